#pragma once
// The value fields of the main window: while the program runs their texts
// are the only copy of the current settings (Label8 port, Label4 baud,
// Label21 interval, Label19 instrument count), plus the red status line
// Label9. Readers convert the text when they need a number.

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace lumo {

enum class ValueField { Port, Baud, Interval, Count, Status };

class ValueFields {
public:
    const std::string& text(ValueField field) const { return texts_[index(field)]; }
    void setText(ValueField field, std::string text);

    // Label19's leading number, read afresh at every call (0 when none).
    double instrumentCount() const;

    using Observer = std::function<void(ValueField, const std::string&)>;
    void addObserver(Observer observer) { observers_.push_back(std::move(observer)); }

private:
    static std::size_t index(ValueField field) { return static_cast<std::size_t>(field); }

    std::array<std::string, 5> texts_;
    std::vector<Observer> observers_;
};

}  // namespace lumo
