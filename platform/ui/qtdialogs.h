#pragma once
#include "dialogs.h"

#include <QString>

class QCoreApplication;
class QWidget;

namespace lumo {

// Message boxes bearing the program's title.
class QtDialogs : public Dialogs {
public:
    QtDialogs(QString title, QWidget* parent) : title_(std::move(title)), parent_(parent) {}

    void inform(const std::string& text) override;
    bool ask(const std::string& text) override;

private:
    QString title_;
    QWidget* parent_;
};

// Qt's own Simplified Chinese translation, so that the standard buttons read
// 确定, 是 and 否 whatever the locale. False when it is not installed; the
// buttons then stay English.
bool installChineseButtonTexts(QCoreApplication& app);

}  // namespace lumo
