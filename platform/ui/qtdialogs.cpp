#include "qtdialogs.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

namespace lumo {

namespace {

// The system's texts break lines with "\r\n"; a Qt label wants "\n".
QString displayed(const std::string& text)
{
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

bool installChineseButtonTexts(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void QtDialogs::inform(const std::string& text)
{
    QMessageBox box(QMessageBox::Information, title_, displayed(text), QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogs::ask(const std::string& text)
{
    QMessageBox box(QMessageBox::Question, title_, displayed(text), QMessageBox::Yes | QMessageBox::No, parent_);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace lumo
