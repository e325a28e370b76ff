#include "station.h"

#include "gridpage.h"
#include "mainwindow.h"
#include "qtdialogs.h"
#include "qtserialport.h"
#include "qttimers.h"
#include "singlecopy.h"
#include "sqlitesettingsstore.h"
#include "stationfont.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QFileInfo>

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
          store(programDir.toStdString()),
          port(programDir.toStdString()),
          timer([this] { poll->tick(); }),
          poll(config.makePollCycle(port, grid, fields, settings, chainTimer)),
          commands(main, this->dialogs, store, fields, timer, end)
    {
        grid.addObserver(&view);
        port.setReceiveHandler([this](int code) { poll->onReceiveEvent(code); });
    }
    ~Parts() { grid.removeObserver(&view); }

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
    QtSerialPort port;
    StationSettings settings;
    QtOneShotTimer chainTimer;
    QtPollTimer timer;
    std::unique_ptr<PollCycle> poll;
    Commands commands;
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
        formLoad({p.main, p.guard, p.dialogs, p.grid, p.store, p.fields, p.timer, *p.poll, p.port, p.settings});
    if (result == StartupResult::Stopped) {
        // Stopped means nothing more goes on the line and no straggling
        // answer refills the blanked grid: no chained request either.
        p.port.setReceiveHandler({});
        p.chainTimer.cancel();
    }
    if (result != StartupResult::AnotherCopyRunning) {
        p.main.centreOnScreen();
        p.main.show();
    }
    return result;
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
    Station station(config, QCoreApplication::applicationFilePath());
    TerminationSignals systemEnd([&station] { station.endBySystem(); });
    // The session ending closes the program by other means: stop polling,
    // save nothing.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&station] { station.commands().unload(); });
    if (station.start() == StartupResult::AnotherCopyRunning)
        return 0;
    if (station.ended())
        return 0;
    return app.exec();
}

}  // namespace lumo
