#include "commapi_win.h"

#include <algorithm>

namespace lumo {

namespace {

class SystemCommApi : public CommApi {
public:
    HANDLE open(const std::wstring& device) override
    {
        return CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    }
    BOOL setupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) override
    {
        return SetupComm(handle, inQueue, outQueue);
    }
    BOOL setTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) override { return SetCommTimeouts(handle, timeouts); }
    BOOL getState(HANDLE handle, DCB* dcb) override { return GetCommState(handle, dcb); }
    BOOL setState(HANDLE handle, DCB* dcb) override { return SetCommState(handle, dcb); }
    BOOL read(HANDLE handle, void* into, DWORD size, OVERLAPPED* overlapped) override
    {
        return ReadFile(handle, into, size, nullptr, overlapped);
    }
    BOOL write(HANDLE handle, const void* bytes, DWORD size, DWORD* written, OVERLAPPED* overlapped) override
    {
        return WriteFile(handle, bytes, size, written, overlapped);
    }
    BOOL result(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred) override
    {
        return GetOverlappedResult(handle, overlapped, transferred, FALSE);
    }
    BOOL cancel(HANDLE handle, OVERLAPPED* overlapped) override { return CancelIoEx(handle, overlapped); }
    BOOL purge(HANDLE handle, DWORD flags) override { return PurgeComm(handle, flags); }
    BOOL clearError(HANDLE handle, DWORD* errors, COMSTAT* state) override
    {
        return ClearCommError(handle, errors, state);
    }
    BOOL close(HANDLE handle) override { return CloseHandle(handle); }
};

std::string utf8(const wchar_t* wide, int length)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), size, nullptr, nullptr);
    return text;
}

}  // namespace

CommApi& systemCommApi()
{
    static SystemCommApi api;
    return api;
}

std::string systemMessage(DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length ? utf8(buffer, static_cast<int>(length)) : std::string();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return (text.empty() ? std::string("error") : text) + " (" + std::to_string(error) + ")";
}

bool deviceGone(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_OPERATION_ABORTED:
        return true;
    default:
        return false;
    }
}

// Windows opens a serial port for one program at a time and refuses a
// second with "access denied"; it does not say which program holds it.
std::string openFailureCause(DWORD error, const std::string& name)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "串口设备不存在：" + name;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "串口正被另一个程序使用：" + name;
    default:
        return {};
    }
}

}  // namespace lumo
