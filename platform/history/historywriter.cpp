#include "historywriter.h"

#include "historyos.h"
#include "jsontext.h"

#include <filesystem>
#include <system_error>

namespace lumo::history {

namespace {

std::string faultWords(const FileFault& fault)
{
    switch (fault.kind) {
    case FileFault::Kind::Full: return "磁盘已满或超出限额";
    case FileFault::Kind::ReadOnly: return "历史文件不能写";
    case FileFault::Kind::Damaged: return "历史文件已损坏";
    case FileFault::Kind::Other: break;
    }
    return "历史文件出错";
}

std::filesystem::path pathOf(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

}  // namespace

HistoryWriter::HistoryWriter(std::string path, std::string like, int keepYears, DayOf dayOf,
                             std::function<std::int64_t()> utcNowMs, std::function<void(const std::string&)> onState)
    : path_(std::move(path)),
      like_(std::move(like)),
      keepYears_(keepYears),
      dayOf_(std::move(dayOf)),
      utcNowMs_(std::move(utcNowMs)),
      onState_(std::move(onState)),
      thread_([this] { run(); })
{
}

HistoryWriter::~HistoryWriter()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void HistoryWriter::write(Batch batch)
{
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(batch));
    }
    wake_.notify_one();
}

void HistoryWriter::run()
{
    std::deque<Batch> waiting;  // taken from the queue, not yet written
    bool opened = openFile();
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            stopping = stopping_;
            while (!queue_.empty()) {
                waiting.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
        }
        if (!opened)
            opened = openFile();
        if (opened)
            writeWaiting(waiting);
        while (waiting.size() > kMostWaiting)
            waiting.pop_front();
        if (stopping)
            return;
    }
}

bool HistoryWriter::openFile()
{
    makeWithRightsOf(path_, like_);
    auto fault = file_.openForWriting(path_);
    if (fault && fault->kind == FileFault::Kind::Damaged) {
        setAside(*fault);
        makeWithRightsOf(path_, like_);
        fault = file_.openForWriting(path_);
    }
    if (!fault)
        fault = file_.closeDanglingEvents();
    if (fault) {
        file_.close();
        tell("历史记录停止：" + faultWords(*fault) + "（" + fault->message + "），每分钟重试");
        return false;
    }
    return true;
}

// Everything waiting, oldest first; what cannot be written stays for the
// next minute.
void HistoryWriter::writeWaiting(std::deque<Batch>& waiting)
{
    while (!waiting.empty()) {
        auto fault = file_.write(waiting.front());
        if (fault && fault->kind == FileFault::Kind::Damaged) {
            setAside(*fault);
            makeWithRightsOf(path_, like_);
            fault = file_.openForWriting(path_);
            if (!fault)
                fault = file_.write(waiting.front());
        }
        if (fault) {
            tell("历史记录停止：" + faultWords(*fault) + "（" + fault->message + "），每分钟重试");
            return;
        }
        waiting.pop_front();
        tell("");
        // Every ten minutes what was written ahead goes into the file, in a
        // step of its own (a failure shows at the next write).
        if (++written_ % kCheckpointEvery == 0)
            if (auto fault = file_.checkpoint())
                tell("历史记录：" + faultWords(*fault) + "（" + fault->message + "）");
    }
    // Once an hour what is older than it is kept goes.
    const std::int64_t now = utcNowMs_();
    if (now - lastDropMs_ >= kHourMs) {
        lastDropMs_ = now;
        const std::int64_t kept = now - static_cast<std::int64_t>(keepYears_) * 366 * 24 * kHourMs;
        if (auto fault = file_.dropOld(now, keepYears_, dayOf_(kept)))
            tell("历史记录：旧记录删不掉（" + fault->message + "）");
    }
}

// A damaged file is kept under a dated name beside it, for whoever wants to
// look into it, and a new one is started.
void HistoryWriter::setAside(const FileFault& fault)
{
    file_.close();
    // 2026-12-10T05:40:12.345Z -> .damaged-20261210T054012Z: no colons,
    // which Windows does not take in a name.
    std::string stamp;
    for (const char c : utcText(utcNowMs_()).substr(0, 19))
        if (c != '-' && c != ':')
            stamp += c;
    const std::string aside = path_ + ".damaged-" + stamp + "Z";
    std::error_code error;
    std::filesystem::rename(pathOf(path_), pathOf(aside), error);
    for (const char* suffix : {"-wal", "-shm"})
        std::filesystem::rename(pathOf(path_ + suffix), pathOf(aside + suffix), error);
    tell("历史文件已损坏，另存为 " + aside + "，新建了一个（" + fault.message + "）");
}

// Said once; a damaged file set aside stays said when writing goes on.
void HistoryWriter::tell(const std::string& state)
{
    if (state == told_ || (state.empty() && told_.rfind("历史文件已损坏", 0) == 0))
        return;
    told_ = state;
    if (onState_)
        onState_(state);
}

}  // namespace lumo::history
