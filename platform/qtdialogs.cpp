#include "qtdialogs.h"

#include <QMessageBox>

namespace lumo {

namespace {

// The system's texts break lines with "\r\n"; a Qt label wants "\n".
QString displayed(const std::string& text)
{
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

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
