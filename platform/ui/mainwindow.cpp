#include "mainwindow.h"

#include "baudtable.h"
#include "portlist.h"
#include "programicon.h"

#include <QGuiApplication>
#include <QRegularExpressionValidator>
#include <QScreen>

namespace lumo {

namespace {

QStringList countEntries()
{
    QStringList entries;
    for (int n = 1; n <= kLongestCountEntry; ++n)
        entries << QString::number(n);
    return entries;
}

QStringList portEntries()
{
    QStringList entries;
    for (int n = 1; n <= kListedPorts; ++n)
        entries << QString::fromStdString(portEntry(n));
    return entries;
}

QStringList baudEntries()
{
    QStringList entries;
    for (const std::string& entry : baudListEntries())
        entries << QString::fromStdString(entry);
    return entries;
}

}  // namespace

MainWindow::MainWindow(const QString& title, ValueFields& fields, QWidget* parent)
    : GridPage(kPageLayouts[0], title, parent), fields_(fields)
{
    buildSettingsArea();
    // Pages 2 and 3 have no icon of their own.
    setWindowIcon(programIcon());
    fields_.addObserver([this](ValueField field, const std::string& text) {
        QLineEdit* shown = valueField(field);
        shown->setText(QString::fromStdString(text));
        shown->setCursorPosition(0);  // a text longer than the field shows its beginning
    });
}

void MainWindow::buildSettingsArea()
{
    // The value row, framed by a box of four lines.
    addCaption("当前仪表数:", 360, 7200, 1095, 255);
    values_[static_cast<int>(ValueField::Count)] = addValueField("当前仪表数", 1680, 7080, 735, 375);
    addCaption("当前发送间隔:", 2640, 7200, 1215, 255);
    values_[static_cast<int>(ValueField::Interval)] = addValueField("当前发送间隔", 3960, 7080, 1095, 375);
    addCaption("当前com端口:", 5280, 7200, 1095, 255);
    values_[static_cast<int>(ValueField::Port)] = addValueField("当前com端口", 6480, 7080, 1095, 375);
    addCaption("通讯速率:", 7800, 7200, 855, 255);
    values_[static_cast<int>(ValueField::Baud)] = addValueField("通讯速率", 8760, 7080, 1095, 375);
    addLine(240, 6960, 11520, 6960);
    addLine(240, 7680, 11520, 7680);
    addLine(240, 6960, 240, 7680);
    addLine(11520, 6960, 11520, 7680);

    command3_ = new QPushButton(QStringLiteral("修改"), this);
    command3_->setGeometry(twipRect(10080, 7080, 1215, 495));

    // The settings editor, hidden until "修改" opens it.
    editor_.push_back(addCaption("仪表数选择", 360, 7920, 975, 255));
    combo1_ = addList(countEntries(), 1560, 7920, 1215, 300);
    editor_.push_back(combo1_);
    editor_.push_back(addCaption("发送间隔", 3000, 7920, 735, 255));
    text1_ = new QLineEdit(QStringLiteral("200"), this);
    text1_->setGeometry(twipRect(3840, 7920, 735, 375));
    text1_->setMaxLength(5);
    text1_->setAccessibleName(QStringLiteral("发送间隔"));
    editor_.push_back(text1_);
    editor_.push_back(addCaption("毫秒", 4680, 7920, 375, 255));
    editor_.push_back(addCaption("可选择端口", 5280, 7920, 975, 255));
    combo3_ = addList(portEntries(), 6480, 7920, 1095, 300);
    combo3_->setCurrentIndex(-1);
    editor_.push_back(combo3_);
    editor_.push_back(addCaption("通讯速率:", 7800, 7920, 855, 255));
    combo2_ = addList(baudEntries(), 8760, 7920, 1095, 300);
    combo2_->setCurrentIndex(-1);
    editor_.push_back(combo2_);
    command2_ = new QPushButton(QStringLiteral("确定"), this);
    command2_->setGeometry(twipRect(10080, 7800, 1215, 495));
    editor_.push_back(command2_);
    editor_.push_back(addLine(240, 7680, 240, 8400));      // Line6
    editor_.push_back(addLine(11520, 7680, 11520, 8400));  // Line7
    editor_.push_back(addLine(240, 8400, 11520, 8400));    // Line3
    combo1_->setAccessibleName(QStringLiteral("仪表数选择"));
    combo3_->setAccessibleName(QStringLiteral("可选择端口"));
    combo2_->setAccessibleName(QStringLiteral("通讯速率选择"));
    setEditorVisible(false);

    end_ = new QPushButton(QStringLiteral("退出"), this);
    end_->setGeometry(twipRect(9840, 8520, 1215, 495));

    // Label9: red text on the window's background.
    values_[static_cast<int>(ValueField::Status)] = addTextLine("状态", "color: rgb(255, 0, 0);", 4800, 8640, 3975, 255);
    publish_ = addTextLine("发布状态", "", 360, 8640, 4320, 255);
    publish_->hide();
    history_ = addTextLine("历史记录状态", "", 360, 8880, 9360, 255);
    history_->hide();

    // The history's windows, in the margin right of the grid.
    trend_ = new QPushButton(QStringLiteral("趋势"), this);
    trend_->setGeometry(twipRect(10860, 600, 810, 375));
    daily_ = new QPushButton(QStringLiteral("日流量"), this);
    daily_->setGeometry(twipRect(10860, 1080, 810, 375));
    trend_->hide();
    daily_->hide();
}

// A line of text on the window's background: a read-only text field rather
// than a label, so that a screen reader hears the text under its name.
QLineEdit* MainWindow::addTextLine(const char* accessibleName, const char* colour, int left, int top, int width,
                                   int height)
{
    auto* line = new QLineEdit(this);
    line->setReadOnly(true);
    line->setFocusPolicy(Qt::NoFocus);
    line->setFrame(false);
    line->setGeometry(twipRect(left, top, width, height));
    line->setStyleSheet(QStringLiteral("QLineEdit { %1 background: transparent; border: none; }").arg(colour));
    line->setAccessibleName(QString::fromUtf8(accessibleName));
    return line;
}

QLabel* MainWindow::addCaption(const char* text, int left, int top, int width, int height)
{
    auto* caption = new QLabel(QString::fromUtf8(text), this);
    caption->setGeometry(twipRect(left, top, width, height));
    return caption;
}

// A value field: white, a single-line border, read-only. A text field (not a
// label) so that a screen reader hears both its caption and its value.
QLineEdit* MainWindow::addValueField(const char* accessibleName, int left, int top, int width, int height)
{
    auto* field = new QLineEdit(this);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::NoFocus);
    field->setGeometry(twipRect(left, top, width, height));
    field->setStyleSheet(QStringLiteral("QLineEdit { background: white; border: 1px solid black; }"));
    field->setAccessibleName(QString::fromUtf8(accessibleName));
    return field;
}

QFrame* MainWindow::addLine(int x1, int y1, int x2, int y2)
{
    auto* line = new QFrame(this);
    line->setFrameShape(y1 == y2 ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    // A one-pixel line from (x1, y1) to (x2, y2).
    line->setGeometry(px(x1), px(y1), std::max(1, px(x2 - x1) + 1), std::max(1, px(y2 - y1) + 1));
    return line;
}

QComboBox* MainWindow::addList(const QStringList& entries, int left, int top, int width, int height)
{
    auto* list = new QComboBox(this);
    list->setEditable(false);  // pick an entry, never type
    list->addItems(entries);
    list->setGeometry(twipRect(left, top, width, height));
    return list;
}

void MainWindow::showPublishState(const std::string& text)
{
    publish_->setText(QString::fromStdString(text));
    publish_->setCursorPosition(0);
    publish_->setToolTip(publish_->text());
    publish_->show();
}

void MainWindow::showHistoryState(const std::string& text)
{
    history_->setText(QString::fromStdString(text));
    history_->setCursorPosition(0);
    history_->setToolTip(history_->text());
    history_->setVisible(!text.empty());
}

QLineEdit* MainWindow::valueField(ValueField field) const { return values_[static_cast<int>(field)]; }

Status MainWindow::removeCloseCommand()
{
    setWindowFlags(pageWindowFlags());
    return Status::success();
}

Status MainWindow::selectCountEntry(const std::string& entry)
{
    const int index = combo1_->findText(QString::fromStdString(entry));
    if (index < 0)
        return Status::failure("the instrument-count list has no entry \"" + entry + "\"");
    combo1_->setCurrentIndex(index);
    return Status::success();
}

Status MainWindow::makeIntervalEntryDigitsOnly()
{
    text1_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), text1_));
    return Status::success();
}

void MainWindow::setEditorVisible(bool visible)
{
    for (QWidget* element : editor_)
        element->setVisible(visible);
}

void MainWindow::setChangeCommandEnabled(bool enabled) { command3_->setEnabled(enabled); }

void MainWindow::setIntervalText(const std::string& text) { text1_->setText(QString::fromStdString(text)); }

std::string MainWindow::intervalText() const { return text1_->text().toStdString(); }

namespace {

void selectEntry(QComboBox* list, const std::string& entry)
{
    const int index = list->findText(QString::fromStdString(entry), Qt::MatchExactly);
    if (index >= 0)
        list->setCurrentIndex(index);
}

}  // namespace

void MainWindow::selectCount(const std::string& entry) { selectEntry(combo1_, entry); }
void MainWindow::selectBaud(const std::string& entry) { selectEntry(combo2_, entry); }
void MainWindow::selectPort(const std::string& entry) { selectEntry(combo3_, entry); }
std::string MainWindow::countText() const { return combo1_->currentText().toStdString(); }
std::string MainWindow::baudText() const { return combo2_->currentText().toStdString(); }
std::string MainWindow::portText() const { return combo3_->currentText().toStdString(); }

void MainWindow::centreOnScreen()
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

}  // namespace lumo
