#pragma once
// The display grid as plain data: 39 instruments x 8 slots of text on three
// pages of 13 lines, and one activity indicator per page. The windows observe
// it; nothing reads a cell back from a widget.

#include <array>
#include <string>
#include <vector>

namespace lumo {

inline constexpr int kInstruments = 39;
inline constexpr int kSlots = 8;
inline constexpr int kPages = 3;
inline constexpr int kLinesPerPage = 13;

// Slot order of an instrument's line: the one place it is said.
enum Slot : int {
    kSlotFlow = 0,
    kSlotVelocity = 1,
    kSlotPercent = 2,
    kSlotResistance = 3,
    kSlotForwardTotal = 4,
    kSlotReverseTotal = 5,
    kSlotPipeDiameter = 6,
    kSlotAlarm = 7,
};

// The texts of an instrument's eight cells, by slot.
using InstrumentTexts = std::array<std::string, kSlots>;

// PageOf: instrument N (1..39) is on page 1 + (N - 1) div 13 ...
int pageOf(int instrument);
// ... at line (N - 1) mod 13 of that page, counted from 0 at the top.
int lineOf(int instrument);
bool isInstrument(int number);

class GridObserver {
public:
    virtual ~GridObserver() = default;
    virtual void cellChanged(int instrument, int slot, const std::string& text) = 0;
    virtual void activityChanged(int page, bool shown) = 0;
    virtual void pageVisibilityChanged(int page, bool visible) = 0;
};

class GridModel {
public:
    GridModel();

    // SetCellText: replaces the text of cell (N, r); N outside 1..39 or r
    // outside 0..7 writes nothing.
    void setCellText(int instrument, int slot, std::string text);
    // ClearInstrument: slots 0..7 of N become ""; N outside 1..39 does nothing.
    void clearInstrument(int instrument);
    // ShowActivity / HideActivity: the indicator of page 1, 2, then 3,
    // whether the page is visible or not.
    void showActivity();
    void hideActivity();
    // SetPageVisible: page 2 or 3 (page 1 is the main window, always there).
    void setPageVisible(int page, bool visible);

    const std::string& cellText(int instrument, int slot) const;
    bool activityShown(int page) const;
    bool pageVisible(int page) const;

    // Observers are told of every change, in order; they must outlive the model
    // or be removed first.
    void addObserver(GridObserver* observer);
    void removeObserver(GridObserver* observer);

private:
    void setActivity(bool shown);

    std::array<std::array<std::string, kSlots>, kInstruments> cells_;
    std::array<bool, kPages> activity_{};
    std::array<bool, kPages> visible_{};
    std::vector<GridObserver*> observers_;
};

}  // namespace lumo
