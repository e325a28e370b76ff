#pragma once
// A full disk, for real: a small file system of its own (tmpfs) mounted on
// a directory, filled up on demand. Mounting needs root (or the capability
// to mount); where this process may not, mounted() says so and the test
// says it could not try.

#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

namespace lumo::testing {

class SmallDisk {
public:
    SmallDisk(const std::string& directory, int kilobytes) : directory_(directory)
    {
        std::filesystem::create_directories(directory);
        const std::string options = "size=" + std::to_string(kilobytes) + "k";
        mounted_ = ::mount("tmpfs", directory.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(directory_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }

    // Takes every byte left (a file "filler"); true when the disk is full.
    bool fill()
    {
        std::FILE* filler = std::fopen((directory_ + "/filler").c_str(), "wb");
        if (!filler)
            return false;
        static const char block[4096] = {};
        while (std::fwrite(block, 1, sizeof block, filler) == sizeof block) {
        }
        std::fflush(filler);
        const bool full = errno == ENOSPC || std::ferror(filler);
        std::fclose(filler);
        return full;
    }
    void makeRoom() { std::filesystem::remove(directory_ + "/filler"); }

private:
    std::string directory_;
    bool mounted_ = false;
};

}  // namespace lumo::testing
