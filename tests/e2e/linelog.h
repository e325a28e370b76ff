#pragma once
// What the simulator's event log says happened on the line, and a record of
// every cell text a station showed, for end-to-end runs with faults.

#include "gridmodel.h"
#include "programdir.h"

#include <QJsonObject>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace lumo::testing {

struct TxEvent {
    int addr = -1;  // address byte the answer carries
    int to = -1;    // address asked, i.e. the instrument that answered
    int block = -1; // block echo (block protocol)
    std::string fault;
    bool hasValue = false;
    double value = 0;
    std::size_t bytes = 0;  // every byte sent, noise and duplicates included
};

struct LineLog {
    std::vector<TxEvent> answers;
    std::vector<int> requested;  // address of every request frame read
    int storms = 0;              // storms that have ended
};

// rx frames are 4 bytes (block) or 8 bytes (Modbus); the address is byte 1
// or byte 0.
LineLog readLineLog(const Simulator& sim);

// Whether a fault list ("none", "split+late", ...) names one of these.
bool faultNames(const std::string& faults, std::initializer_list<const char*> names);

// Every cellChanged the grid reported, in order.
class CellRecorder : public GridObserver {
public:
    struct Change {
        int instrument;
        int slot;
        std::string text;
        std::int64_t atUs;  // CLOCK_MONOTONIC
    };
    explicit CellRecorder(GridModel& grid) : grid_(grid) { grid_.addObserver(this); }
    ~CellRecorder() override { grid_.removeObserver(this); }
    CellRecorder(const CellRecorder&) = delete;
    CellRecorder& operator=(const CellRecorder&) = delete;

    void cellChanged(int instrument, int slot, const std::string& text) override;
    void activityChanged(int, bool) override {}
    void pageVisibilityChanged(int, bool) override {}

    // Whether slot 0 of the instrument went from a value to "" at some point.
    bool blankedAfterValue(int instrument) const;
    bool everFilled(int instrument) const;
    // What the cell showed at that moment ("" before anything).
    std::string textAt(int instrument, int slot, std::int64_t atUs) const;

    std::vector<Change> changes;

private:
    GridModel& grid_;
};

}  // namespace lumo::testing
