#pragma once
// Everything a monitoring program is made of, wired together: the grid model
// and its three windows, the value fields, the settings file, the serial
// port, the poll timer and the protocol's poll cycle. Both programs are this
// station with their own titles and poll cycle.

#include "commands.h"
#include "gridmodel.h"
#include "pollcycle.h"
#include "serialport.h"
#include "startup.h"
#include "stationsettings.h"
#include "timers.h"
#include "valuefields.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace lumo {

class GridPage;
class MainWindow;
class StationHistory;

struct StationConfig {
    QString programName;  // message boxes bear it
    QString mainTitle;    // Form1
    QString pageTitle;    // Form2 and Form3
    // The protocol's poll cycle over the station's port, grid, value fields,
    // the settings start-up parses, and a timer for deferred requests.
    std::function<std::unique_ptr<PollCycle>(SerialPort&, GridModel&, const ValueFields&, const StationSettings&,
                                             OneShotTimer&)>
        makePollCycle;
    // How often the line statistics go to the plant network, when they
    // changed.
    std::chrono::milliseconds statsPeriod{10000};
    // Where the settings file is when there is none beside the program;
    // empty: the machine's data directory of the program (datadirectory.h).
    QString dataDirectory;
};

class Station : public ProgramEnd {
public:
    // programPath: the running program; its directory holds the comN links
    // and, on a portable copy, lumo.mdb. dialogs: the program's message
    // boxes unless a test passes its own.
    Station(const StationConfig& config, const QString& programPath, Dialogs* dialogs = nullptr);
    ~Station() override;

    // Form_Load; on Polling or Stopped the main window is shown afterwards.
    StartupResult start();
    void endProgram() override;
    // SIGTERM and its kin: ends as "退出" answered Yes, without asking.
    void endBySystem();
    bool ended() const { return ended_; }

    GridModel& grid();
    ValueFields& fields();
    MainWindow& mainWindow();
    GridPage& page(int page);  // 1..3
    PollCycle& pollCycle();
    PollTimer& pollTimer();
    Commands& commands();
    StationHistory& history();

private:
    void startPublishing();

    struct Parts;
    std::unique_ptr<Parts> parts_;
    bool ended_ = false;
};

// The whole program: QApplication, station, event loop.
int runStation(int argc, char** argv, const StationConfig& config);

}  // namespace lumo
