#include "singlecopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lumo {

FileLockGuard::FileLockGuard(const QString& programPath)
{
    const QFileInfo program(programPath);
    const QByteArray hash =
        QCryptographicHash::hash(program.canonicalFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    lockPath_ = QDir::tempPath() + '/' + program.fileName() + '-' + QString::fromLatin1(hash) + ".lock";
}

FileLockGuard::~FileLockGuard()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileLockGuard::anotherCopyRunning()
{
    if (fd_ >= 0)
        return false;  // this copy already holds the lock
    const QByteArray path = QFile::encodeName(lockPath_);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;  // no lock to be had: better to run than to refuse
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return true;
    }
    fd_ = fd;
    return false;
}

}  // namespace lumo
