#pragma once
// Test harness: a pseudo-terminal whose slave side stands in for the serial
// device, a temporary program directory for the comN links, and bounded
// waits that run the Qt event loop without spinning.

#include "serialport.h"

#include <filesystem>
#include <functional>
#include <string>

namespace lumo::testing {

// Runs the event loop for about `ms` milliseconds, sleeping when idle.
void runEventLoopFor(int ms);
// Runs the event loop until `done` holds or `ms` milliseconds have passed.
bool waitUntil(const std::function<bool()>& done, int ms = 3000);
// CPU time (user + system) this process has used so far, in seconds.
double processCpuSeconds();

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int slaveFd() const { return slave_; }
    // The instrument side's own descriptor, for a peer on another thread.
    int masterFd() const { return master_; }
    // The instrument side: bytes sent here arrive at the port.
    void send(const Bytes& bytes);
    // Collects what the port wrote until `count` bytes are in or time is up.
    Bytes receive(std::size_t count, int ms = 3000);
    // The far end vanishes. The slave stays open, as a real device node
    // stays referenced by whoever held it.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

class ProgramDirectory {
public:
    ProgramDirectory();
    ~ProgramDirectory();
    const std::filesystem::path& path() const { return path_; }
    // (Re)points comN at `target`.
    void link(int number, const std::string& target);

private:
    std::filesystem::path path_;
};

}  // namespace lumo::testing
