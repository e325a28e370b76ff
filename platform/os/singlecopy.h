#pragma once
// One running copy per user and program. The lock file lives in the user's
// runtime directory (runtimedir.h) and is named after the program's
// canonical path, so two users each run their copy and the serial port's
// own lock decides who gets the line.
//
// QLockFile holds the file for as long as this copy runs and removes it when
// the copy ends; a lock left behind by a killed copy names a process that no
// longer runs and is taken over by the next start.

#include "startup.h"

#include <QLockFile>
#include <QString>

#include <memory>

namespace lumo {

class FileLockGuard : public SingleCopyGuard {
public:
    // programPath: the running program's absolute file path.
    explicit FileLockGuard(const QString& programPath);

    bool anotherCopyRunning() override;

private:
    QString programPath_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace lumo
