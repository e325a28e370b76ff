#pragma once
// Form_Load of the main window: brings the program from nothing to polling.
// Every step is attempted even when an earlier one failed; the most recent
// failure is remembered and reported once at the end, and the poll timer is
// stopped then.

#include "dialogs.h"
#include "gridmodel.h"
#include "pollcycle.h"
#include "serialport.h"
#include "settingsstore.h"
#include "stationsettings.h"
#include "status.h"
#include "timers.h"
#include "valuefields.h"

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

inline constexpr std::string_view kPortStoppedText = "串口已被占用,请更改串口,通讯停止!";

// What start-up needs of the main window beyond the value fields and grid.
class StartupWindow {
public:
    virtual ~StartupWindow() = default;
    // The operator leaves only through the exit command.
    virtual Status removeCloseCommand() = 0;
    // Selects an entry of the instrument-count list Combo1.
    virtual Status selectCountEntry(const std::string& entry) = 0;
    // The interval entry box Text1 takes digits only.
    virtual Status makeIntervalEntryDigitsOnly() = 0;
};

class SingleCopyGuard {
public:
    virtual ~SingleCopyGuard() = default;
    virtual bool anotherCopyRunning() = 0;
};

struct StartupParts {
    StartupWindow& window;
    SingleCopyGuard& guard;
    Dialogs& dialogs;
    GridModel& grid;
    SettingsStore& store;
    ValueFields& fields;
    PollTimer& timer;
    PollCycle& poll;
    SerialPort& port;
    StationSettings& settings;  // filled from the value fields
};

enum class StartupResult {
    Polling,             // port open and configured, Timer1 running
    Stopped,             // a step failed: message shown, status line set, Timer1 stopped
    AnotherCopyRunning,  // end at once, silently, before any window shows
};

StartupResult formLoad(const StartupParts& parts);

// Longest send interval the poll timer takes, in milliseconds (what the
// interval entry box can hold).
inline constexpr int kLongestInterval = 99999;

// The integer value of a value field's text, as the port number and the
// interval are read: surrounding blanks allowed, an optional sign, digits
// only. Nothing for any other text.
std::optional<long long> integerValue(std::string_view text);

}  // namespace lumo
