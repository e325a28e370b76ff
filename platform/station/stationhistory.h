#pragma once
// The station's history: the recorder fed by the poll, its batches written
// to history.db beside the settings file on a thread of their own, the
// history's state on the main window's bottom line, and the trend and daily
// volume windows behind "趋势", "日流量" and the instruments' numbers.

#include "historywriter.h"
#include "reading.h"
#include "recorder.h"
#include "settingsstore.h"

#include <QTimer>

#include <array>
#include <memory>
#include <string>

namespace lumo {

class DailyWindow;
class GridPage;
class MainWindow;
class TrendWindow;

class StationHistory {
public:
    StationHistory(MainWindow& main, std::array<GridPage*, 3> pages, std::string program);
    // The run ends: the minute under way, open alarms and silences and the
    // run itself are written before the writer stops.
    ~StationHistory();
    StationHistory(const StationHistory&) = delete;
    StationHistory& operator=(const StationHistory&) = delete;

    // Records beside `settingsPath` when the settings file's history table
    // allows (by default it does); otherwise the main window says why not.
    void start(SettingsStore& store, const std::string& settingsPath, InstrumentListeners& listeners);
    bool recording() const { return recorder_ != nullptr; }
    void settingsChanged(const std::string& detail);

    const std::string& path() const { return path_; }
    TrendWindow& trendWindow();
    DailyWindow& dailyWindow();
    void showTrend(int instrument);

private:
    MainWindow& main_;
    std::array<GridPage*, 3> pages_;
    std::string program_;
    std::string path_;
    std::unique_ptr<history::HistoryWriter> writer_;
    std::unique_ptr<history::Recorder> recorder_;
    QTimer tick_;
    std::unique_ptr<TrendWindow> trend_;
    std::unique_ptr<DailyWindow> daily_;
};

// history.db beside a settings file.
std::string historyFileBeside(const std::string& settingsPath);

}  // namespace lumo
