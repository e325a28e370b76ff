#pragma once
// A poller on an in-memory line, a grid and hand-driven chain timer.

#include "answerframes.h"
#include "baudtable.h"
#include "fakeserialport.h"
#include "faketimers.h"
#include "modbuspoller.h"
#include "request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumo::modbus::testing {

// Counts the cell writes a test did not expect.
struct CellRecorder : GridObserver {
    std::vector<int> instruments;
    void cellChanged(int instrument, int, const std::string&) override { instruments.push_back(instrument); }
    void activityChanged(int, bool) override {}
    void pageVisibilityChanged(int, bool) override {}
};

class PollerTest : public ::testing::Test {
protected:
    lumo::testing::FakeSerialPort port;
    GridModel grid;
    ValueFields fields;
    lumo::testing::FakeOneShotTimer chain;
    lumo::testing::FakeClock clock;
    StationSettings settings;  // 9600,n,8,1
    ModbusPoller poller{port, grid, fields, settings, chain, clock};
    CellRecorder cells;

    PollerTest()
    {
        port.threshold = poller.receiveThreshold();
        port.setReceiveHandler([this](int code) { poller.onReceiveEvent(code); });
        setCount("5");
        grid.addObserver(&cells);
    }
    ~PollerTest() override { grid.removeObserver(&cells); }

    void setCount(const std::string& count) { fields.setText(ValueField::Count, count); }
    void setBaud(const char* baudText) { settings.line = lineSettingsForBaudText(baudText); }

    // The address byte of every request written so far.
    std::vector<int> addressesWritten() const
    {
        std::vector<int> addresses;
        for (const Bytes& frame : port.written)
            addresses.push_back(frame.at(0));
        return addresses;
    }
    int lastAddressWritten() const { return port.written.empty() ? -1 : port.written.back().at(0); }

    void fillCells(int instrument, const std::string& text = "x")
    {
        for (int slot = 0; slot < kSlots; ++slot)
            grid.setCellText(instrument, slot, text);
    }
    bool blank(int instrument) const
    {
        for (int slot = 0; slot < kSlots; ++slot) {
            if (!grid.cellText(instrument, slot).empty())
                return false;
        }
        return true;
    }
    bool indicatorShown() const
    {
        return grid.activityShown(1) && grid.activityShown(2) && grid.activityShown(3);
    }
    bool indicatorHidden() const
    {
        return !grid.activityShown(1) && !grid.activityShown(2) && !grid.activityShown(3);
    }
    std::string flowOf(int instrument) const { return grid.cellText(instrument, kSlotFlow); }
};

}  // namespace lumo::modbus::testing
