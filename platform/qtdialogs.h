#pragma once
#include "dialogs.h"

#include <QString>

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

}  // namespace lumo
