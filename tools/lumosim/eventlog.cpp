#include "eventlog.h"

#include <cerrno>
#include <cstring>

namespace lumo::sim {

std::string jsonEscaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

EventLog::~EventLog()
{
    if (file_)
        std::fclose(file_);
}

bool EventLog::open(const std::string& path, std::string& error)
{
    file_ = std::fopen(path.c_str(), "w");
    if (!file_)
        error = path + ": cannot open the log file: " + std::strerror(errno);
    return file_ != nullptr;
}

EventLog& EventLog::begin(std::int64_t tUs, const char* event)
{
    line_ = "{\"t_us\":" + std::to_string(tUs) + ",\"ev\":\"" + event + "\"";
    return *this;
}

EventLog& EventLog::field(const char* key, long long value)
{
    line_ += std::string(",\"") + key + "\":" + std::to_string(value);
    return *this;
}

EventLog& EventLog::field(const char* key, const std::string& text)
{
    line_ += std::string(",\"") + key + "\":\"" + jsonEscaped(text) + "\"";
    return *this;
}

EventLog& EventLog::hexField(const char* key, const Bytes& bytes)
{
    return field(key, hexText(bytes));
}

EventLog& EventLog::numberField(const char* key, const std::string& decimal)
{
    line_ += std::string(",\"") + key + "\":" + decimal;
    return *this;
}

void EventLog::end()
{
    if (!file_)
        return;
    line_ += "}\n";
    std::fputs(line_.c_str(), file_);
    std::fflush(file_);
}

} // namespace lumo::sim
