// Windows keeps a temp directory per user (%TEMP%, below the profile, which
// only that user and the administrators can enter): the locks go to a
// directory of ours in it.

#include "runtimedir.h"

#include <windows.h>

#include <string>

namespace lumo {

namespace {

std::string utf8(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                        nullptr);
    return text;
}

}  // namespace

std::string userRuntimeDirectory()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        return {};
    std::wstring own = std::wstring(temp, length) + L"lumoscan";
    if (!CreateDirectoryW(own.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return {};
    return utf8(own);
}

}  // namespace lumo
