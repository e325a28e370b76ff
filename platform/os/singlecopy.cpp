#include "singlecopy.h"

#include "runtimedir.h"

#include <QCryptographicHash>
#include <QFileInfo>

namespace lumo {

FileLockGuard::FileLockGuard(const QString& programPath) : programPath_(programPath) {}

bool FileLockGuard::anotherCopyRunning()
{
    if (lock_)
        return false;  // this copy already holds the lock
    const QString directory = QString::fromStdString(userRuntimeDirectory());
    if (directory.isEmpty())
        return false;  // nowhere to keep a lock: better to run than to refuse
    const QFileInfo program(programPath_);
    const QString path = program.canonicalFilePath().isEmpty() ? program.absoluteFilePath() : program.canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    auto lock = std::make_unique<QLockFile>(directory + '/' + program.fileName() + '-' + QString::fromLatin1(hash) +
                                            ".lock");
    // A running copy's lock never goes stale by age; only a dead owner frees it.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        lock_ = std::move(lock);
        return false;
    }
    return lock->error() == QLockFile::LockFailedError;
}

}  // namespace lumo
