#pragma once
// Settings files that another program holds or that cannot be written, as
// the store and the end-to-end tests need them.

#include <sqlite3.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <string>

#include <gtest/gtest.h>

namespace lumo::testing {

// Immutable files refuse writes even to root, unlike chmod 0444. Windows:
// the read-only attribute, which stops administrators too; false when it
// does not stop this process (Wine keeps it as the Unix mode, which root
// writes through).
inline bool setImmutable(const std::string& path, bool immutable)
{
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!SetFileAttributesA(path.c_str(), immutable ? (attributes | FILE_ATTRIBUTE_READONLY)
                                                    : (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})))
        return false;
    if (!immutable)
        return true;
    const HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (writer == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(writer);
    return false;
#else
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
#endif
}

// Another program holding the settings file, as a second connection.
class Holder {
public:
    Holder(const std::string& path, const char* begin)
    {
        EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db_, begin, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
    }
    ~Holder()
    {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

private:
    sqlite3* db_ = nullptr;
};

}  // namespace lumo::testing
