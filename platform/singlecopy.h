#pragma once
// One running copy per program: an advisory lock on a file named after the
// program's own path. The kernel drops the lock when the process ends, however
// it ends, so a crashed or killed copy never blocks the next start.

#include "startup.h"

#include <QString>

namespace lumo {

class FileLockGuard : public SingleCopyGuard {
public:
    // programPath: the running program's absolute file path.
    explicit FileLockGuard(const QString& programPath);
    ~FileLockGuard() override;
    FileLockGuard(const FileLockGuard&) = delete;
    FileLockGuard& operator=(const FileLockGuard&) = delete;

    bool anotherCopyRunning() override;

    QString lockPath() const { return lockPath_; }

private:
    QString lockPath_;
    int fd_ = -1;
};

}  // namespace lumo
