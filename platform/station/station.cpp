#include "station.h"

#include "datadirectory.h"
#include "gridpage.h"
#include "mainwindow.h"
#include "mqttclient.h"
#include "qtdialogs.h"
#include "qttimers.h"
#include "singlecopy.h"
#include "notingstore.h"
#include "sqlitesettingsstore.h"
#include "stationhistory.h"
#include "stationport.h"
#include "stationfont.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

namespace lumo {

namespace {

// The windows observe the grid model.
class PagesView : public GridObserver {
public:
    explicit PagesView(std::array<GridPage*, 3> pages) : pages_(pages) {}

    void cellChanged(int instrument, int slot, const std::string& text) override
    {
        pages_[pageOf(instrument) - 1]->setCellText(lineOf(instrument), slot, QString::fromStdString(text));
    }
    void activityChanged(int page, bool shown) override { pages_[page - 1]->indicator()->setVisible(shown); }
    void pageVisibilityChanged(int page, bool visible) override { pages_[page - 1]->setVisible(visible); }

private:
    std::array<GridPage*, 3> pages_;
};

}  // namespace

struct Station::Parts {
    Parts(const StationConfig& config, const QString& programPath, Dialogs* dialogs, ProgramEnd& end)
        : programDir(QFileInfo(programPath).absolutePath()),
          guard(programPath),
          main(config.mainTitle, fields),
          page2(kPageLayouts[1], config.pageTitle),
          page3(kPageLayouts[2], config.pageTitle),
          view({&main, &page2, &page3}),
          ownDialogs(config.programName, &main),
          dialogs(dialogs ? *dialogs : ownDialogs),
          store(SettingsPlaces{programDir.toStdString(),
                               config.dataDirectory.isEmpty()
                                   ? machineDataDirectory(config.programName.toStdString())
                                   : config.dataDirectory.toStdString()}),
          noting(store),
          history(main, {&main, &page2, &page3}, config.programName.toStdString()),
          port(programDir.toStdString()),
          timer([this] { poll->tick(); }),
          poll(config.makePollCycle(port, grid, fields, settings, chainTimer)),
          commands(main, this->dialogs, noting, fields, timer, end),
          statsPeriod(config.statsPeriod)
    {
        grid.addObserver(&view);
        port.setReceiveHandler([this](int code) { poll->onReceiveEvent(code); });
        noting.setOnChanged([this](const std::string& detail) { history.settingsChanged(detail); });
    }
    ~Parts()
    {
        mqtt.reset();  // "offline" goes out while the poll cycle still exists
        if (poll)
            poll->setInstrumentListener(nullptr);
        grid.removeObserver(&view);
        // history goes with its members: the run's end is written then.
    }

    QString programDir;
    FileLockGuard guard;
    GridModel grid;
    ValueFields fields;
    MainWindow main;
    GridPage page2;
    GridPage page3;
    PagesView view;
    QtDialogs ownDialogs;
    Dialogs& dialogs;
    SqliteSettingsStore store;
    // The store as start-up and the commands use it: a save that changes
    // a setting is an event of the history.
    NotingStore noting;
    StationHistory history;
    InstrumentListeners listeners;
    StationPort port;
    StationSettings settings;
    QtOneShotTimer chainTimer;
    QtPollTimer timer;
    std::unique_ptr<PollCycle> poll;
    Commands commands;
    // Publishing to the plant network, when the settings file asks for it.
    std::unique_ptr<Publisher> publisher;
    std::unique_ptr<MqttClient> mqtt;
    std::chrono::milliseconds statsPeriod;
    QTimer statsTimer;
};

Station::Station(const StationConfig& config, const QString& programPath, Dialogs* dialogs)
    : parts_(std::make_unique<Parts>(config, programPath, dialogs, *this))
{
    MainWindow& main = parts_->main;
    Commands& commands = parts_->commands;
    QObject::connect(main.changeButton(), &QPushButton::clicked, [&commands] { commands.openEditor(); });
    QObject::connect(main.confirmButton(), &QPushButton::clicked, [&commands] { commands.confirm(); });
    QObject::connect(main.exitButton(), &QPushButton::clicked, [&commands] { commands.exit(); });
}

Station::~Station() = default;

StartupResult Station::start()
{
    Parts& p = *parts_;
    const StartupResult result =
        formLoad({p.main, p.guard, p.dialogs, p.grid, p.noting, p.fields, p.timer, *p.poll, p.port, p.settings});
    if (result == StartupResult::Stopped) {
        // Stopped means nothing more goes on the line and no straggling
        // answer refills the blanked grid: no chained request either.
        p.port.setReceiveHandler({});
        p.chainTimer.cancel();
    }
    // A stopped station has nothing to tell the plant network, nor to keep.
    if (result == StartupResult::Polling) {
        p.poll->setInstrumentListener(&p.listeners);
        startPublishing();
        p.history.start(p.store, p.store.filePath(), p.listeners);
    }
    if (result != StartupResult::AnotherCopyRunning) {
        p.main.centreOnScreen();
        p.main.show();
    }
    return result;
}

// A publishing row that cannot work never stops the station: it is told
// once, below the editor box, and the station polls as usual.
void Station::startPublishing()
{
    Parts& p = *parts_;
    const Result<std::optional<PublishRow>> row = p.store.loadPublishing();
    if (!row.ok()) {
        p.main.showPublishState("发布设置读不出，不发布：" + row.error());
        return;
    }
    if (!row.value())
        return;
    const Result<std::optional<PublishSettings>> settings = publishSettingsOf(*row.value());
    if (!settings.ok()) {
        p.main.showPublishState("发布设置有误，不发布：" + settings.error());
        return;
    }
    if (!settings.value())
        return;
    p.publisher = std::make_unique<Publisher>(settings.value()->station, [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    });
    p.listeners.add(p.publisher.get());
    MainWindow& main = p.main;
    p.mqtt = std::make_unique<MqttClient>(*settings.value(), *p.publisher,
                                          [&main](const std::string& state) { main.showPublishState(state); });
    p.mqtt->start();
    QObject::connect(&p.statsTimer, &QTimer::timeout,
                     [&p] { p.publisher->publishStats(p.poll->lineStats(), std::chrono::steady_clock::now()); });
    p.statsTimer.start(p.statsPeriod);
}

// The system closing the program: like "退出" answered Yes, without the
// question, also while a message box waits for the operator (quit alone
// would not end that box's loop before the main loop runs).
void Station::endBySystem()
{
    endProgram();
    QCoreApplication::exit(0);
}

void Station::endProgram()
{
    ended_ = true;
    parts_->timer.setEnabled(false);
    for (GridPage* page : {&parts_->page3, &parts_->page2, static_cast<GridPage*>(&parts_->main)})
        page->allowClosing();
    parts_->page3.close();
    parts_->page2.close();
    parts_->main.close();
    QCoreApplication::quit();
}

GridModel& Station::grid() { return parts_->grid; }
ValueFields& Station::fields() { return parts_->fields; }
MainWindow& Station::mainWindow() { return parts_->main; }
PollCycle& Station::pollCycle() { return *parts_->poll; }
PollTimer& Station::pollTimer() { return parts_->timer; }
Commands& Station::commands() { return parts_->commands; }
StationHistory& Station::history() { return parts_->history; }

GridPage& Station::page(int page)
{
    if (page == 2)
        return parts_->page2;
    if (page == 3)
        return parts_->page3;
    return parts_->main;
}

int runStation(int argc, char** argv, const StationConfig& config)
{
    QApplication app(argc, argv);
    applyStationFont();
    installChineseButtonTexts(app);
    auto station = std::make_unique<Station>(config, QCoreApplication::applicationFilePath());
    TerminationSignals systemEnd([&station] { station->endBySystem(); });
    // The session ending closes the program by other means: stop polling,
    // save nothing.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&station] { station->commands().unload(); });
    int code = 0;
    if (station->start() != StartupResult::AnotherCopyRunning && !station->ended())
        code = app.exec();
    // The station, and with it the serial port, goes before the system is
    // told that the program has ended.
    station.reset();
    return code;
}

}  // namespace lumo
