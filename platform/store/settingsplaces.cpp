#include "settingsplaces.h"

#include <filesystem>
#include <system_error>

namespace lumo {

namespace {

// Paths are UTF-8 text here and in SQLite; std::filesystem takes a narrow
// string in the ANSI code page on Windows, so they go through char8_t.
std::filesystem::path pathOf(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

std::string textOf(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

bool settingsFileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(pathOf(path), error);
}

std::string settingsFileIn(const std::string& directory)
{
    const std::filesystem::path file = pathOf(directory) / "lumo.mdb";
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    return textOf(error ? file : absolute.lexically_normal());
}

std::string settingsFileOf(const SettingsPlaces& places)
{
    const std::string beside = settingsFileIn(places.programDirectory);
    if (places.dataDirectory.empty() || settingsFileExists(beside))
        return beside;
    return settingsFileIn(places.dataDirectory);
}

std::string missingSettingsCause(const SettingsPlaces& places)
{
    const std::string beside = settingsFileIn(places.programDirectory);
    if (places.dataDirectory.empty())
        return "找不到设置文件 " + beside + "。";
    return "找不到设置文件：程序旁边没有 " + beside + "，本机的数据目录里也没有 " +
           settingsFileIn(places.dataDirectory) + "。安装包把默认的设置文件放在数据目录里，构建把它放在程序旁边。";
}

}  // namespace lumo
