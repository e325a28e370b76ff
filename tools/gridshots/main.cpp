// Draws the three pages with every cell filled with sample texts and writes
// them as PNG files: gridshots <output dir>. For looking at the layout.

#include "gridpage.h"
#include "mainwindow.h"
#include "stationfont.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: gridshots <output dir>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!lumo::applyStationFont())
        std::fprintf(stderr, "gridshots: no Simplified Chinese font installed\n");

    lumo::ValueFields fields;
    lumo::MainWindow form1(QStringLiteral("LUMO-QSPAR-MODBUS Ver1.3"), fields);
    lumo::GridPage form2(lumo::kPageLayouts[1], QStringLiteral("LUMO-QSPAR-MODBUS"));
    lumo::GridPage form3(lumo::kPageLayouts[2], QStringLiteral("LUMO-QSPAR-MODBUS"));
    fields.setText(lumo::ValueField::Count, "39");
    fields.setText(lumo::ValueField::Interval, "200");
    fields.setText(lumo::ValueField::Port, "1");
    fields.setText(lumo::ValueField::Baud, "9600");
    const bool editor = QCoreApplication::arguments().contains(QStringLiteral("--editor"));
    if (editor) {
        form1.setEditorVisible(true);
        form1.setChangeCommandEnabled(false);
    }

    lumo::GridPage* pages[] = {&form1, &form2, &form3};
    for (lumo::GridPage* page : pages) {
        for (int line = 0; line < 13; ++line) {
            const int n = (page->page() - 1) * 13 + line + 1;
            page->setCellText(line, 0, QString::number(12.5 + n, 'g', 7));
            page->setCellText(line, 1, QString::number(1.25 + n / 100.0, 'g', 7));
            page->setCellText(line, 2, QString::number(50 + n));
            page->setCellText(line, 3, QStringLiteral("3.3"));
            page->setCellText(line, 4, QString::number(1234.5678 + n, 'f', 4));
            page->setCellText(line, 5, QStringLiteral("0"));
            page->setCellText(line, 6, QStringLiteral("100"));
            page->setCellText(line, 7, n % 5 == 0 ? QStringLiteral("通讯正常,空管报警") : QStringLiteral("通讯正常"));
        }
        page->indicator()->show();
        page->show();
        const QString file = out.filePath(QStringLiteral("Form%1%2.png").arg(page->page()).arg(editor ? "-editor" : ""));
        page->grab().save(file);
        std::printf("%s\n", qPrintable(file));
    }
    // --stay keeps the windows up for an outside reader (screen reader tests).
    for (int i = 2; i < argc; ++i)
        if (QString::fromLocal8Bit(argv[i]) == QStringLiteral("--stay"))
            return app.exec();
    return 0;
}
