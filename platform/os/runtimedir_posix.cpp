// $XDG_RUNTIME_DIR, which the session removes at logout, when it is ours;
// without one, a directory of the user's own under the temp directory.

#include "runtimedir.h"

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace lumo {

namespace {

// A directory that only this user can enter: ours, a real directory (not a
// link someone planted), mode 0700.
bool isPrivateDirectory(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0700;
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string userRuntimeDirectory()
{
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime.front() == '/' && isPrivateDirectory(runtime))
        return runtime;
    std::string temp = environment("TMPDIR");
    if (temp.empty() || temp.front() != '/')
        temp = "/tmp";
    const std::string own = temp + "/lumoscan-" + std::to_string(::geteuid());
    ::mkdir(own.c_str(), 0700);
    return isPrivateDirectory(own) ? own : std::string();
}

}  // namespace lumo
