// %ProgramData% as Windows knows it (the known folder, not the variable a
// user may set for their own programs).

#include "datadirectory.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace lumo {

namespace {

std::string utf8(const wchar_t* wide)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string text(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    return text;
}

}  // namespace

std::string machineDataDirectory(const std::string& program)
{
    PWSTR folder = nullptr;
    std::string programData;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder)))
        programData = utf8(folder);
    CoTaskMemFree(folder);
    if (programData.empty())
        programData = "C:\\ProgramData";
    return programData + "\\lumoscan\\" + program;
}

}  // namespace lumo
