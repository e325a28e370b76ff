#pragma once

#include <optional>
#include <string>

namespace lumo::sim {

// The simulator's end of the serial line. For a pseudo-terminal fd is the
// master and slaveFd the slave, kept open so the line does not read as hung up
// while no program has the slave open.
struct Line {
    int fd = -1;
    int slaveFd = -1;
    std::string path; // the slave's path, or the device
};

struct LineOutcome {
    std::optional<Line> line;
    std::string error;
};

// A raw 8N1 pseudo-terminal pair (no echo, no line editing, no CR/LF mapping).
LineOutcome openPseudoTerminal();
// A real serial device, raw 8N1 at baud, no flow control.
LineOutcome openSerialDevice(const std::string& path, int baud);
void closeLine(Line& line);

// Makes linkPath a symbolic link to target, replacing an existing link; a
// regular file or directory at linkPath is left alone and reported.
bool makeLink(const std::string& linkPath, const std::string& target, std::string& error);

} // namespace lumo::sim
