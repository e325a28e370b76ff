#pragma once
// The operator's commands on the main window: "修改" opens the settings
// editor, "确定" validates, asks and saves the edited settings and ends the
// program, "退出" asks and ends it. New settings take effect at the next
// start; nothing is applied to the running system.

#include "dialogs.h"
#include "gridmodel.h"
#include "settingsstore.h"
#include "timers.h"
#include "valuefields.h"

#include <string>
#include <string_view>

namespace lumo {

inline constexpr std::string_view kIntervalRejectedText = "必须输入大于200的数字且小于99999";
inline constexpr std::string_view kConfirmChangeText = "修改端口后必须重新进入本系统，请确认修改并退出系统?";
inline constexpr std::string_view kConfirmExitText = "请确认是否退出系统?";
inline constexpr int kShortestEditedInterval = 200;
// A confirmed change that did not reach the settings file; the store's own
// description (the file's path and why) follows on the next lines.
inline constexpr std::string_view kNotSavedText = "设置未能保存，下次启动仍使用原来的设置。";
inline constexpr std::string_view kPartlySavedText = "部分设置未能保存，下次启动时这些设置仍是原来的值。";

// The settings editor as the commands see it: the thirteen elements shown and
// hidden together, and the current text or selection of each input.
class SettingsEditor {
public:
    virtual ~SettingsEditor() = default;
    virtual void setEditorVisible(bool visible) = 0;
    virtual void setChangeCommandEnabled(bool enabled) = 0;  // Command3 "修改"

    virtual void setIntervalText(const std::string& text) = 0;  // Text1
    virtual std::string intervalText() const = 0;
    // Select the list entry equal to the text; with no such entry the list
    // keeps its selection. The commands ask for the count and baud the
    // station runs with, which are always entries.
    virtual void selectCount(const std::string& entry) = 0;  // Combo1
    virtual void selectBaud(const std::string& entry) = 0;   // Combo2
    virtual void selectPort(const std::string& entry) = 0;   // Combo3
    // The selected entry's text, "" when nothing is selected.
    virtual std::string countText() const = 0;
    virtual std::string baudText() const = 0;
    virtual std::string portText() const = 0;
};

class ProgramEnd {
public:
    virtual ~ProgramEnd() = default;
    // Closes all three windows at once and releases the serial port.
    virtual void endProgram() = 0;
};

class Commands {
public:
    Commands(SettingsEditor& editor, Dialogs& dialogs, SettingsStore& store, ValueFields& fields, PollTimer& timer,
             ProgramEnd& end)
        : editor_(editor), dialogs_(dialogs), store_(store), fields_(fields), timer_(timer), end_(end)
    {
    }

    void openEditor();  // click of Command3
    void confirm();     // click of Command2
    void exit();        // click of end
    void unload();      // the main window unloaded other than by ending the program

private:
    void closeEditor();
    void showStored(const SettingsRecord& stored);

    SettingsEditor& editor_;
    Dialogs& dialogs_;
    SettingsStore& store_;
    ValueFields& fields_;
    PollTimer& timer_;
    ProgramEnd& end_;
};

// The entry of the instrument-count list nearest to the count the station
// polls with: the stored text itself for "1".."39", "39" for 40 and above,
// "1" for 0, nothing or text.
inline constexpr int kLongestCountEntry = kInstruments;
std::string countEntryInUse(std::string_view countText);

// What the operator is told after a save with failures.
std::string saveFailureText(const StoreOutcome& saved);

// Whether an interval typed into the editor is accepted: digits only (the
// box takes nothing else), a value of 200 and more.
bool intervalAccepted(std::string_view text);

}  // namespace lumo
