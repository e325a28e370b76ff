#pragma once
// Reading the history off the window's thread: each job runs on the
// reader's own thread with the file open for reading, so that neither the
// poll nor the window waits for the disk; a job hands its result back to
// the window's thread itself (a queued call). The reader is its owner's
// member: destroying it waits for the job under way, so no job outlives
// the window it answers.

#include "historyfile.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace lumo::history {

class HistoryReader {
public:
    // The file, or why it cannot be read.
    using Job = std::function<void(const HistoryFile* file, const std::string& fault)>;

    explicit HistoryReader(std::string path);
    ~HistoryReader();
    HistoryReader(const HistoryReader&) = delete;
    HistoryReader& operator=(const HistoryReader&) = delete;

    const std::string& path() const { return path_; }
    // Jobs run in the order given; a job still waiting when a newer one
    // comes with `replacing` is dropped (a trend dragged on).
    void run(Job job, bool replacing = false);

private:
    void loop();

    const std::string path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<Job, bool>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace lumo::history
