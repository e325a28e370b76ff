#pragma once
// A driver in memory behind the Win32 serial port, one that can misbehave as
// real ones do: keep the DCB flags another program left, refuse line
// settings, take a write and never end it, abort every read on its own,
// ignore a cancel. It signals the events of the port's OVERLAPPED structures
// as a driver would, so the port's own waiting is what is tested.

#include "commapi_win.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

namespace lumo::testing {

class FakeCommApi : public CommApi {
public:
    // What the driver does.
    DCB state{};                 // as the last program left it
    bool refuseState = false;    // SetCommState fails
    bool writesNeverEnd = false; // a write is taken and never completes
    bool abortReads = false;     // every read ends aborted, nobody having asked
    DWORD readFailure = 0;       // ReadFile fails at once with this error
    bool ignoreCancel = false;   // a cancel changes nothing (a wedged driver)
    std::deque<std::uint8_t> line;  // bytes that have arrived

    // What it saw.
    int opens = 0, closes = 0, reads = 0, setStates = 0;
    COMMTIMEOUTS timeouts{};
    std::vector<std::vector<std::uint8_t>> written;

    FakeCommApi() { state.DCBlength = sizeof state; }

    HANDLE open(const std::wstring&) override
    {
        ++opens;
        return kHandle;
    }
    BOOL setupComm(HANDLE, DWORD, DWORD) override { return TRUE; }
    BOOL setTimeouts(HANDLE, COMMTIMEOUTS* set) override
    {
        timeouts = *set;
        return TRUE;
    }
    BOOL getState(HANDLE, DCB* dcb) override
    {
        *dcb = state;
        return TRUE;
    }
    BOOL setState(HANDLE, DCB* dcb) override
    {
        ++setStates;
        if (refuseState) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        state = *dcb;
        return TRUE;
    }
    BOOL read(HANDLE, void* into, DWORD size, OVERLAPPED* overlapped) override
    {
        ++reads;
        if (readFailure) {
            SetLastError(readFailure);
            return FALSE;
        }
        Io& io = ios_[overlapped];
        io = {static_cast<std::uint8_t*>(into), size, 0, false, ERROR_SUCCESS};
        if (abortReads)
            finish(overlapped, ERROR_OPERATION_ABORTED);
        else
            deliver();
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    BOOL write(HANDLE, const void* bytes, DWORD size, DWORD* done, OVERLAPPED* overlapped) override
    {
        const auto* begin = static_cast<const std::uint8_t*>(bytes);
        written.emplace_back(begin, begin + size);
        if (!writesNeverEnd) {
            *done = size;
            return TRUE;
        }
        ios_[overlapped] = {nullptr, size, 0, false, ERROR_SUCCESS};
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    BOOL result(HANDLE, OVERLAPPED* overlapped, DWORD* transferred) override
    {
        const auto found = ios_.find(overlapped);
        if (found == ios_.end() || !found->second.done) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        const Io io = found->second;
        ios_.erase(found);
        *transferred = io.transferred;
        if (io.error != ERROR_SUCCESS) {
            SetLastError(io.error);
            return FALSE;
        }
        return TRUE;
    }
    BOOL cancel(HANDLE, OVERLAPPED* overlapped) override
    {
        if (ignoreCancel)
            return TRUE;
        for (auto& [pending, io] : ios_)
            if (!io.done && (!overlapped || pending == overlapped))
                finish(pending, ERROR_OPERATION_ABORTED);
        return TRUE;
    }
    BOOL purge(HANDLE, DWORD flags) override
    {
        if (flags & PURGE_RXCLEAR)
            line.clear();
        if ((flags & PURGE_TXABORT) && !ignoreCancel)
            for (auto& [pending, io] : ios_)
                if (!io.done && !io.into)
                    finish(pending, ERROR_OPERATION_ABORTED);
        return TRUE;
    }
    BOOL clearError(HANDLE, DWORD* errors, COMSTAT* comState) override
    {
        *errors = 0;
        *comState = {};
        comState->cbInQue = static_cast<DWORD>(line.size());
        return TRUE;
    }
    BOOL close(HANDLE) override
    {
        ++closes;
        return TRUE;
    }

    // Bytes arrive on the line: a pending read takes what it asked for.
    void arrive(const std::vector<std::uint8_t>& bytes)
    {
        line.insert(line.end(), bytes.begin(), bytes.end());
        deliver();
    }

private:
    struct Io {
        std::uint8_t* into;  // a read's buffer; none for a write
        DWORD size;
        DWORD transferred;
        bool done;
        DWORD error;
    };
    static inline const HANDLE kHandle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4c554d4f));

    void finish(OVERLAPPED* overlapped, DWORD error)
    {
        Io& io = ios_[overlapped];
        io.done = true;
        io.error = error;
        SetEvent(overlapped->hEvent);
    }
    void deliver()
    {
        for (auto& [overlapped, io] : ios_) {
            if (io.done || !io.into || line.size() < io.size)
                continue;
            for (DWORD i = 0; i < io.size; ++i) {
                io.into[i] = line.front();
                line.pop_front();
            }
            io.transferred = io.size;
            finish(overlapped, ERROR_SUCCESS);
        }
    }

    std::map<OVERLAPPED*, Io> ios_;
};

}  // namespace lumo::testing
