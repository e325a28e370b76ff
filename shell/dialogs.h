#pragma once
// Operator dialogs: message boxes bearing the program's title, with an OK
// button (information) or Yes and No buttons (questions).

#include <string>

namespace lumo {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void inform(const std::string& text) = 0;
    // true for Yes, false for No.
    virtual bool ask(const std::string& text) = 0;
};

}  // namespace lumo
