#include "historyreader.h"

namespace lumo::history {

HistoryReader::HistoryReader(std::string path) : path_(std::move(path)), thread_([this] { loop(); }) {}

HistoryReader::~HistoryReader()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_one();
    thread_.join();
}

void HistoryReader::run(Job job, bool replacing)
{
    {
        const std::lock_guard lock(mutex_);
        if (replacing)
            std::erase_if(jobs_, [](const auto& waiting) { return waiting.second; });
        jobs_.emplace_back(std::move(job), replacing);
    }
    wake_.notify_one();
}

// The file is opened afresh for each job: it may have been made, or set
// aside and made anew, since the last one.
void HistoryReader::loop()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front().first);
            jobs_.pop_front();
        }
        HistoryFile file;
        const auto fault = file.openForReading(path_);
        job(fault ? nullptr : &file, fault ? fault->message : std::string());
    }
}

}  // namespace lumo::history
