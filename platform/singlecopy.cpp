#include "singlecopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace lumo {

namespace {

// A directory that only this user can enter: ours, a real directory (not a
// link someone planted), mode 0700.
bool isPrivateDirectory(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0700;
}

// The directory for this user's lock files, made if need be; empty when no
// such directory can be had (another user's, or not 0700).
QString userRuntimeDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isAbsolute() && isPrivateDirectory(runtime))
        return runtime;
    const QString own = QDir::tempPath() + "/lumoscan-" + QString::number(::geteuid());
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return isPrivateDirectory(own) ? own : QString();
}

}  // namespace

FileLockGuard::FileLockGuard(const QString& programPath) : programPath_(programPath) {}

bool FileLockGuard::anotherCopyRunning()
{
    if (lock_)
        return false;  // this copy already holds the lock
    const QString directory = userRuntimeDirectory();
    if (directory.isEmpty())
        return false;  // nowhere to keep a lock: better to run than to refuse
    const QFileInfo program(programPath_);
    const QByteArray hash =
        QCryptographicHash::hash(program.canonicalFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
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
