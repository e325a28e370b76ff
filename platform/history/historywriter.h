#pragma once
// The recorder's batches on their way to history.db, written on a thread of
// their own, so that neither the poll tick nor the receive handler ever
// waits on the disk. A batch that cannot be written (a full disk, a file
// that cannot be written) stays queued and goes with the next one; a
// damaged file is set aside under a dated name and a new one started. How
// history goes is told in words (Chinese first) to `onState`, from the
// writer's thread: the caller hands it on to its own.

#include "historyfile.h"
#include "recorder.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace lumo::history {

class HistoryWriter : public HistorySink {
public:
    // path: history.db, made with the rights of `like` (the settings file).
    // keepYears: how long hours, days and events are kept. `dayOf` gives a
    // moment's local day, for the days kept.
    HistoryWriter(std::string path, std::string like, int keepYears, DayOf dayOf,
                  std::function<std::int64_t()> utcNowMs, std::function<void(const std::string&)> onState);
    // Writes what is queued, then stops.
    ~HistoryWriter() override;
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    void write(Batch batch) override;

    // Batches held back while the file cannot be written; beyond this many
    // (a day's minutes) the oldest go.
    static constexpr std::size_t kMostWaiting = 1440;

private:
    void run();
    bool openFile();
    void writeWaiting(std::deque<Batch>& waiting);
    void setAside(const FileFault& fault);
    void tell(const std::string& state);

    const std::string path_;
    const std::string like_;
    const int keepYears_;
    DayOf dayOf_;
    std::function<std::int64_t()> utcNowMs_;
    std::function<void(const std::string&)> onState_;
    HistoryFile file_;  // the writer thread's alone
    std::string told_;
    std::int64_t lastDropMs_ = 0;
    static constexpr int kCheckpointEvery = 10;
    long written_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Batch> queue_;
    bool stopping_ = false;
    std::thread thread_;  // last: starts once everything above is made
};

}  // namespace lumo::history
