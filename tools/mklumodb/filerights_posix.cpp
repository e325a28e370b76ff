#include "filerights.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumo::mklumodb {

namespace {

Status systemFailure(const std::string& what) { return Status::failure(what + ": " + std::strerror(errno)); }

std::string directoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

}  // namespace

Status createPrivateFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return systemFailure("creating " + path);
    ::close(fd);
    return Status::success();
}

Status giveSettingsRights(const std::string& temporary, const std::string& target, bool holdsPassword)
{
    struct stat replaced {};
    mode_t mode = 0;
    if (::lstat(target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        mode = replaced.st_mode & 0777;
        struct stat made {};
        if (::stat(temporary.c_str(), &made) != 0)
            return systemFailure(temporary);
        if ((made.st_uid != replaced.st_uid || made.st_gid != replaced.st_gid) &&
            ::chown(temporary.c_str(), replaced.st_uid, replaced.st_gid) != 0 &&
            ::chown(temporary.c_str(), static_cast<uid_t>(-1), replaced.st_gid) != 0)
            return systemFailure("giving " + temporary + " the group of " + target);
    } else {
        mode = 0666 & ~currentUmask();
        struct stat directory {};
        if (::stat(directoryOf(target).c_str(), &directory) == 0 && (directory.st_mode & S_ISGID))
            mode = 0660;
    }
    if (holdsPassword)
        mode &= ~static_cast<mode_t>(S_IRWXO);
    if (::chmod(temporary.c_str(), mode) != 0)
        return systemFailure("giving " + temporary + " its mode");
    return Status::success();
}

}  // namespace lumo::mklumodb
