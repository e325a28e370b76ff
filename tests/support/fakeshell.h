#pragma once
// Fakes of the main window, guard, dialogs, settings store and poll cycle for
// the start-up and command tests.

#include "dialogs.h"
#include "pollcycle.h"
#include "settingsstore.h"
#include "startup.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace lumo::testing {

class FakeStartupWindow : public StartupWindow {
public:
    std::vector<std::string> calls;
    std::string countEntry;
    bool digitsOnly = false;

    Status removeCloseCommand() override
    {
        calls.push_back("removeCloseCommand");
        return Status::success();
    }
    Status selectCountEntry(const std::string& entry) override
    {
        calls.push_back("selectCountEntry");
        countEntry = entry;
        return Status::success();
    }
    Status makeIntervalEntryDigitsOnly() override
    {
        calls.push_back("makeIntervalEntryDigitsOnly");
        digitsOnly = true;
        return Status::success();
    }
};

class FakeGuard : public SingleCopyGuard {
public:
    bool running = false;
    bool anotherCopyRunning() override { return running; }
};

class FakeDialogs : public Dialogs {
public:
    std::vector<std::string> informed;
    std::vector<std::string> asked;
    std::deque<bool> answers;  // answers to the questions, in order; No when empty
    // Runs while a message is shown, as the event loop of a real box would.
    std::function<void()> whileInforming;

    void inform(const std::string& text) override
    {
        informed.push_back(text);
        if (whileInforming)
            whileInforming();
    }
    bool ask(const std::string& text) override
    {
        asked.push_back(text);
        if (answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
};

class FakeStore : public SettingsStore {
public:
    StoreOutcome loadOutcome;
    StoreOutcome saveOutcome;
    std::vector<SettingsEdit> saved;
    int loads = 0;

    StoreOutcome load() override
    {
        ++loads;
        return loadOutcome;
    }
    StoreOutcome save(const SettingsEdit& edit) override
    {
        saved.push_back(edit);
        return saveOutcome;
    }

    static StoreOutcome record(std::string timer, std::string num, std::string com, std::string baud)
    {
        StoreOutcome outcome;
        outcome.fields = {std::move(timer), std::move(num), std::move(com), std::move(baud)};
        return outcome;
    }
};

class FakePollCycle : public PollCycle {
public:
    int threshold = 10;
    std::vector<std::string> calls;
    int ticks = 0;
    LineStats stats;

    int receiveThreshold() const override { return threshold; }
    void setCurrentAddress(std::int16_t address) override
    {
        calls.push_back("setCurrentAddress " + std::to_string(address));
    }
    void setInstrumentListener(InstrumentListener*) override {}
    const LineStats& lineStats() const override { return stats; }
    void tick() override { ++ticks; }
    void onReceiveEvent(int) override {}
};

}  // namespace lumo::testing
