#include "stationhistory.h"

#include "dailywindow.h"
#include "gridmodel.h"
#include "historysettings.h"
#include "localclock.h"
#include "mainwindow.h"
#include "trendwindow.h"

#include <QDate>

namespace lumo {

std::string historyFileBeside(const std::string& settingsPath)
{
    const std::size_t slash = settingsPath.find_last_of("/\\");
    return (slash == std::string::npos ? std::string() : settingsPath.substr(0, slash + 1)) + "history.db";
}

StationHistory::StationHistory(MainWindow& main, std::array<GridPage*, 3> pages, std::string program)
    : main_(main), pages_(pages), program_(std::move(program))
{
}

StationHistory::~StationHistory()
{
    tick_.stop();
    if (recorder_)
        recorder_->stationEnds();
    recorder_.reset();
    writer_.reset();  // writes what is queued
}

void StationHistory::start(SettingsStore& store, const std::string& settingsPath, InstrumentListeners& listeners)
{
    const Result<HistoryRow> row = store.loadHistory();
    if (!row.ok()) {
        main_.showHistoryState("历史设置读不出，不记录历史：" + row.error());
        return;
    }
    const Result<HistorySettings> settings = historySettingsOf(row.value());
    if (!settings.ok()) {
        main_.showHistoryState("历史设置有误，不记录历史：" + settings.error());
        return;
    }
    if (!settings.value().enabled)
        return;
    path_ = historyFileBeside(settingsPath);
    MainWindow& main = main_;
    writer_ = std::make_unique<history::HistoryWriter>(
        path_, settingsPath, settings.value().keepYears, localDayOf, utcNowMs, [&main](const std::string& state) {
            // From the writer's thread to the window's.
            QMetaObject::invokeMethod(&main, [&main, state] { main.showHistoryState(state); }, Qt::QueuedConnection);
        });
    recorder_ = std::make_unique<history::Recorder>(*writer_, utcNowMs, localDayOf, program_);
    recorder_->stationStarted();
    listeners.add(recorder_.get());
    QObject::connect(&tick_, &QTimer::timeout, [this] { recorder_->tick(); });
    tick_.start(1000);

    QObject::connect(main_.trendButton(), &QPushButton::clicked, [this] { showTrend(1); });
    QObject::connect(main_.dailyButton(), &QPushButton::clicked, [this] {
        const QDate today = QDate::currentDate();
        dailyWindow().showDays(today.addDays(-6), today);
    });
    main_.trendButton()->show();
    main_.dailyButton()->show();
    for (GridPage* page : pages_)
        page->setNumberClicked([this](int instrument) { showTrend(instrument); });
}

void StationHistory::settingsChanged(const std::string& detail)
{
    if (recorder_)
        recorder_->settingsChanged(detail);
}

TrendWindow& StationHistory::trendWindow()
{
    if (!trend_)
        trend_ = std::make_unique<TrendWindow>(path_, kInstruments);
    return *trend_;
}

DailyWindow& StationHistory::dailyWindow()
{
    if (!daily_)
        daily_ = std::make_unique<DailyWindow>(path_);
    return *daily_;
}

void StationHistory::showTrend(int instrument) { trendWindow().showInstruments({instrument}); }

}  // namespace lumo
