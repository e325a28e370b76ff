#pragma once

#include "bytes.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace lumo::sim {

// One JSON object per line, flushed per line, so a reader following the file
// sees each event as soon as it happened. Without a file nothing is written.
class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    bool open(const std::string& path, std::string& error);

    // Starts a line {"t_us":T,"ev":"NAME"; fields follow; end() closes it.
    EventLog& begin(std::int64_t tUs, const char* event);
    EventLog& field(const char* key, long long value);
    EventLog& field(const char* key, const std::string& text);
    EventLog& hexField(const char* key, const Bytes& bytes);
    // A decimal text written as a JSON number, unquoted.
    EventLog& numberField(const char* key, const std::string& decimal);
    void end();

private:
    std::FILE* file_ = nullptr;
    std::string line_;
};

std::string jsonEscaped(const std::string& text);

} // namespace lumo::sim
