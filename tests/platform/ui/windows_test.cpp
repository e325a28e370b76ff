// The windows against the layout tables: positions read back from the
// widgets, expected values written out in pixels (15 twips a pixel).

#include "gridpage.h"
#include "mainwindow.h"
#include "qtdialogs.h"
#include "stationfont.h"

#include <QFontInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using lumo::GridPage;
using lumo::kPageLayouts;

QRect rect(int x, int y, int w, int h) { return QRect(x, y, w, h); }

TEST(Windows, ClientAreasAndTitles)
{
    GridPage page2(kPageLayouts[1], "LUMO-QSPAR-MODBUS");
    GridPage page3(kPageLayouts[2], "LUMO-QSPAR-MODBUS");
    lumo::ValueFields fields;
    lumo::MainWindow form1("LUMO-QSPAR  Ver1.2", fields);
    EXPECT_EQ(form1.size(), QSize(786, 613));
    EXPECT_EQ(page2.size(), QSize(786, 470));
    EXPECT_EQ(page3.size(), QSize(824, 523));
    EXPECT_EQ(form1.windowTitle(), "LUMO-QSPAR  Ver1.2");
    EXPECT_EQ(page3.windowTitle(), "LUMO-QSPAR-MODBUS");
}

TEST(Windows, CellsHeadingsAndNumbersSitWhereTheLayoutSays)
{
    lumo::ValueFields fields;
    lumo::MainWindow form1("t", fields);
    GridPage page2(kPageLayouts[1], "t");
    GridPage page3(kPageLayouts[2], "t");

    const struct {
        GridPage* page;
        int line, slot;
        QRect geometry;
    } cells[] = {
        {&form1, 0, 0, rect(72, 40, 68, 25)},   {&form1, 12, 7, rect(576, 424, 140, 25)},
        {&form1, 3, 6, rect(504, 136, 68, 25)}, {&page2, 5, 3, rect(288, 200, 68, 25)},
        {&page2, 0, 7, rect(576, 40, 140, 25)}, {&page3, 0, 0, rect(96, 56, 68, 25)},
        {&page3, 12, 7, rect(600, 440, 140, 25)},
    };
    for (const auto& c : cells) {
        EXPECT_EQ(c.page->cell(c.line, c.slot)->geometry(), c.geometry)
            << "page " << c.page->page() << " line " << c.line << " slot " << c.slot;
        EXPECT_TRUE(c.page->cell(c.line, c.slot)->isReadOnly());
    }

    const struct {
        GridPage* page;
        int slot;
        const char* text;
        QRect geometry;
    } headings[] = {
        {&form1, 0, "瞬时流量", rect(80, 16, 49, 17)},   {&form1, 7, "报警状态", rect(616, 16, 57, 17)},
        {&page2, 6, "流量计管径", rect(512, 16, 65, 17)}, {&page2, 1, "流速", rect(168, 16, 49, 17)},
        {&page3, 4, "正向累积", rect(400, 32, 57, 17)},   {&page3, 7, "报警状态", rect(648, 32, 57, 17)},
    };
    for (const auto& h : headings) {
        EXPECT_EQ(h.page->heading(h.slot)->text(), QString::fromUtf8(h.text));
        EXPECT_EQ(h.page->heading(h.slot)->geometry(), h.geometry) << h.text;
    }

    const struct {
        GridPage* page;
        int line;
        const char* text;
        QRect geometry;
    } numbers[] = {
        {&form1, 0, "1", rect(56, 48, 9, 17)},     {&form1, 9, "10", rect(56, 336, 17, 17)},
        {&form1, 12, "13", rect(56, 432, 17, 17)}, {&page2, 0, "14", rect(48, 48, 17, 17)},
        {&page3, 12, "39", rect(72, 448, 17, 17)},
    };
    for (const auto& n : numbers) {
        EXPECT_EQ(n.page->numberLabel(n.line)->text(), n.text);
        EXPECT_EQ(n.page->numberLabel(n.line)->geometry(), n.geometry) << n.text;
    }
    EXPECT_EQ(page3.indicator()->geometry(), rect(8, 8, 33, 27));
}

TEST(Windows, SettingsAreaOfTheMainWindow)
{
    lumo::ValueFields fields;
    lumo::MainWindow form1("t", fields);
    EXPECT_EQ(form1.valueField(lumo::ValueField::Count)->geometry(), rect(112, 472, 49, 25));
    EXPECT_EQ(form1.valueField(lumo::ValueField::Interval)->geometry(), rect(264, 472, 73, 25));
    EXPECT_EQ(form1.valueField(lumo::ValueField::Port)->geometry(), rect(432, 472, 73, 25));
    EXPECT_EQ(form1.valueField(lumo::ValueField::Baud)->geometry(), rect(584, 472, 73, 25));
    EXPECT_EQ(form1.valueField(lumo::ValueField::Status)->geometry(), rect(320, 576, 265, 17));
    EXPECT_EQ(form1.changeButton()->geometry(), rect(672, 472, 81, 33));
    EXPECT_EQ(form1.changeButton()->text(), "修改");
    EXPECT_EQ(form1.exitButton()->geometry(), rect(656, 568, 81, 33));
    EXPECT_EQ(form1.exitButton()->text(), "退出");
    EXPECT_EQ(form1.confirmButton()->text(), "确定");
    EXPECT_EQ(form1.intervalEntry()->geometry(), rect(256, 528, 49, 25));
    EXPECT_EQ(form1.editorElements().size(), 13u);

    fields.setText(lumo::ValueField::Count, "13");
    fields.setText(lumo::ValueField::Status, "串口已被占用,请更改串口,通讯停止!");
    EXPECT_EQ(form1.valueField(lumo::ValueField::Count)->text(), "13");
    EXPECT_EQ(form1.valueField(lumo::ValueField::Status)->text(), "串口已被占用,请更改串口,通讯停止!");
}

TEST(Windows, ListsOfferTheirEntriesInOrderAndCannotBeTypedInto)
{
    lumo::ValueFields fields;
    lumo::MainWindow form1("t", fields);
    QStringList bauds;
    for (int i = 0; i < form1.baudList()->count(); ++i)
        bauds << form1.baudList()->itemText(i);
    EXPECT_EQ(bauds, QStringList({"19200", "14400", "9600", "4800", "2400", "1200", "600"}));
    EXPECT_EQ(form1.countList()->count(), 39);
    EXPECT_EQ(form1.countList()->itemText(38), "39");
    EXPECT_EQ(form1.portList()->count(), 10);
    EXPECT_EQ(form1.portList()->itemText(9), "com10");
    for (QComboBox* list : {form1.countList(), form1.baudList(), form1.portList()})
        EXPECT_FALSE(list->isEditable());
}

TEST(Windows, IntervalEntryTakesAtMostFiveDigits)
{
    lumo::ValueFields fields;
    lumo::MainWindow form1("t", fields);
    ASSERT_TRUE(form1.makeIntervalEntryDigitsOnly().ok());
    QLineEdit* text1 = form1.intervalEntry();
    text1->clear();
    QTest::keyClicks(text1, "1a2b3c");
    EXPECT_EQ(text1->text(), "123");
    QTest::keyClicks(text1, "4567");
    EXPECT_EQ(text1->text(), "12345");
}

TEST(Windows, EveryCellHasAnAccessibleName)
{
    lumo::ValueFields fields;
    lumo::MainWindow form1("t", fields);
    GridPage page3(kPageLayouts[2], "t");
    EXPECT_EQ(form1.cell(4, 0)->accessibleName(), "5 瞬时流量");
    EXPECT_EQ(form1.cell(12, 6)->accessibleName(), "13 流量计管径");
    EXPECT_EQ(page3.cell(0, 7)->accessibleName(), "27 报警状态");
}

TEST(Windows, IndicatorPicture)
{
    const QImage picture = lumo::indicatorPicture();
    ASSERT_EQ(picture.size(), QSize(33, 27));
    const QRgb green = qRgb(0, 128, 0), ground = qRgb(236, 233, 216);
    const struct {
        int x, y;
        QRgb colour;
    } pixels[] = {{15, 13, green}, {5, 13, green},   {4, 13, ground},  {25, 13, green}, {26, 13, ground},
                  {15, 3, green},  {15, 2, ground},  {15, 22, green},  {15, 23, ground}, {0, 0, ground},
                  {32, 26, ground}, {5, 3, ground}};
    for (const auto& p : pixels)
        EXPECT_EQ(picture.pixel(p.x, p.y), p.colour) << p.x << "," << p.y;
    // The disc spans exactly columns 5..25 and rows 3..22.
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (int y = 0; y < 27; ++y)
        for (int x = 0; x < 33; ++x)
            if (picture.pixel(x, y) == green) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    EXPECT_EQ(std::make_tuple(minX, maxX, minY, maxY), std::make_tuple(5, 25, 3, 22));
}

TEST(Windows, PagesRefuseToCloseAndHaveNoCloseBox)
{
    GridPage page2(kPageLayouts[1], "t");
    page2.show();
    EXPECT_FALSE(page2.close());
    EXPECT_TRUE(page2.isVisible());
    EXPECT_FALSE(page2.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST(Windows, LongTextStaysWholeAndShowsItsBeginning)
{
    GridPage page(kPageLayouts[0], "t");
    const QString alarm = QString::fromUtf8("通讯正常,励磁报警,电极报警,空管报警,上限报警,下限报警");
    page.setCellText(0, 7, alarm);
    EXPECT_EQ(page.cell(0, 7)->text(), alarm);
    EXPECT_EQ(page.cell(0, 7)->cursorPosition(), 0);
}

TEST(Windows, CellShowsATextWiderThanItselfAsItsTooltip)
{
    lumo::applyStationFont();
    GridPage page(kPageLayouts[0], "t");
    const struct {
        int slot;
        const char* text;
        bool tooltip;
    } cases[] = {{7, "通讯正常,励磁报警,电极报警", true}, {7, "通讯正常", false}, {7, "通讯正常,空管报警", false},
                 {0, "-1.234568E+07", true},               {0, "1234.568", false}};
    for (const auto& c : cases) {
        // The same cell each time: a text that fits takes an earlier tooltip away.
        page.setCellText(3, c.slot, QString::fromUtf8(c.text));
        EXPECT_EQ(page.cell(3, c.slot)->toolTip(), c.tooltip ? QString::fromUtf8(c.text) : QString()) << c.text;
    }
}

TEST(Windows, MessageBoxButtonsReadInChinese)
{
    ASSERT_TRUE(lumo::installChineseButtonTexts(*QCoreApplication::instance())) << "qtbase_zh_CN.qm not installed";
    QMessageBox question(QMessageBox::Question, "t", "q", QMessageBox::Yes | QMessageBox::No);
    QMessageBox information(QMessageBox::Information, "t", "i", QMessageBox::Ok);
    // Shown as 是(Y) and 否(N), as on the Chinese desktop the station comes from.
    EXPECT_EQ(question.button(QMessageBox::Yes)->text(), QString::fromUtf8("是(&Y)"));
    EXPECT_EQ(question.button(QMessageBox::No)->text(), QString::fromUtf8("否(&N)"));
    EXPECT_EQ(information.button(QMessageBox::Ok)->text(), QString::fromUtf8("确定"));
}

TEST(Windows, SimplifiedChineseFontIsInstalled)
{
    ASSERT_TRUE(lumo::applyStationFont()) << "no CJK SC font: Chinese would be drawn as empty boxes";
    QLabel label(QString::fromUtf8("瞬时流量"));
    EXPECT_TRUE(QFontInfo(label.font()).family().contains("CJK SC")) << QFontInfo(label.font()).family().toStdString();
    EXPECT_TRUE(QFontMetrics(label.font()).inFont(QChar(0x77AC)));  // 瞬
}

}  // namespace
