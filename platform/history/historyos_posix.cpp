#include "historyos.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumo::history {

void makeWithRightsOf(const std::string& path, const std::string& like)
{
    struct stat model {};
    if (::stat(like.c_str(), &model) != 0)
        return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;  // there already, or not to be made here: SQLite tells why
    // The group first: in a directory that is not setgid the file would
    // otherwise have the operator's own. Allowed only to a member of it.
    if (::fchown(fd, static_cast<uid_t>(-1), model.st_gid) != 0) {
        // Keeps the operator's group; the rights below still hold.
    }
    ::fchmod(fd, model.st_mode & 0666);
    ::close(fd);
}

bool isNoRoom(int systemError) { return systemError == ENOSPC || systemError == EDQUOT || systemError == EFBIG; }

}  // namespace lumo::history
