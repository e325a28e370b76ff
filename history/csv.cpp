#include "csv.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace lumo::history {

namespace {

// A field, quoted when it holds a comma, a quote or a line end.
std::string field(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string line(const std::vector<std::string>& fields)
{
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i)
        text += (i ? "," : "") + field(fields[i]);
    return text + "\r\n";
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

constexpr const char* kMeasuredHeadings[kMeasured][2] = {
    {"瞬时流量", "m³/h"},
    {"流速", "m/s"},
    {"百分比", "%"},
    {"电阻值", "kΩ"},
};

}  // namespace

std::string floatText(float value)
{
    if (!std::isfinite(value))
        return "";
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

std::string csvOfPeriods(const std::vector<PeriodRow>& rows, const ToLocal& toLocal)
{
    std::vector<std::string> heading = {"仪表", "开始时间", "时长(s)"};
    for (const auto& [name, unit] : kMeasuredHeadings)
        for (const char* which : {"最小", "平均", "最大"})
            heading.push_back(std::string(name) + which + "(" + unit + ")");
    for (const char* more : {"正向累积(m³)", "反向累积(m³)", "管径(mm)", "报警", "应答次数", "空白时间(s)"})
        heading.push_back(more);
    std::string text = std::string(kByteOrderMark) + line(heading);
    for (const PeriodRow& row : rows) {
        std::vector<std::string> fields = {std::to_string(row.instrument), isoText(toLocal(row.startMs)),
                                           std::to_string(row.lengthMs / 1000)};
        for (const auto& spread : row.measured)
            for (float Spread::*value : {&Spread::min, &Spread::mean, &Spread::max})
                fields.push_back(spread ? floatText((*spread).*value) : "");
        fields.push_back(row.forwardTotal.value_or(""));
        fields.push_back(row.reverseTotal.value_or(""));
        fields.push_back(row.pipeDiameter ? floatText(*row.pipeDiameter) : "");
        fields.push_back(alarmWords(row.alarms));
        fields.push_back(std::to_string(row.answers));
        fields.push_back(seconds(row.blankSeconds));
        text += line(fields);
    }
    return text;
}

std::string csvOfEvents(const std::vector<Event>& events, const ToLocal& toLocal)
{
    std::string text = std::string(kByteOrderMark) + line({"仪表", "事件", "内容", "开始时间", "结束时间", "时长(s)"});
    for (const Event& event : events) {
        std::string kind, what = event.what;
        switch (event.kind) {
        case EventKind::Alarm:
            kind = "报警";
            for (const auto& alarm : kAlarms)
                if (alarm.name == event.what)
                    what = std::string(alarm.suffix.substr(1));
            break;
        case EventKind::Silence: kind = "无应答"; break;
        case EventKind::StationRun: kind = "监测运行"; break;
        case EventKind::SettingsChange: kind = "设置更改"; break;
        }
        text += line({event.instrument > 0 ? std::to_string(event.instrument) : "", kind, what,
                      isoText(toLocal(event.fromMs)), event.toMs ? isoText(toLocal(*event.toMs)) : "",
                      event.toMs ? seconds(static_cast<double>(*event.toMs - event.fromMs) / 1000.0) : ""});
    }
    return text;
}

std::string csvOfDays(const std::vector<DayVolume>& days)
{
    std::string text = std::string(kByteOrderMark) +
                       line({"仪表", "日期", "正向流量(m³)", "反向流量(m³)", "应答时间(h)", "报警", "说明"});
    for (const DayVolume& day : days) {
        std::string note = day.forwardNote;
        if (!day.reverseNote.empty())
            note += (note.empty() ? "" : "；") + day.reverseNote;
        char hours[16];
        std::snprintf(hours, sizeof hours, "%.2f", day.answeredHours);
        text += line({std::to_string(day.instrument), day.day, day.forward.value_or(""), day.reverse.value_or(""),
                      hours, alarmWords(day.alarms), note});
    }
    return text;
}

}  // namespace lumo::history
