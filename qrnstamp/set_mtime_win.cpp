#include "set_mtime.h"

#include <windows.h>

namespace {

constexpr int kExitFailed = 2;

} // namespace

int SetModifiedTime(const char* path, const LocalDateTime& when)
{
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kExitFailed;

    SYSTEMTIME system{};
    system.wYear = when.year;
    system.wMonth = when.month;
    system.wDayOfWeek = 0;
    system.wDay = when.day;
    system.wHour = when.hour;
    system.wMinute = when.minute;
    system.wSecond = when.second;
    system.wMilliseconds = 0;

    // LocalFileTimeToFileTime applies the offset in force now, which is
    // what the sender's date number assumes.
    FILETIME local{};
    FILETIME utc{};
    if (!SystemTimeToFileTime(&system, &local) || !LocalFileTimeToFileTime(&local, &utc)) {
        CloseHandle(file);
        return kExitFailed;
    }

    const BOOL set = SetFileTime(file, nullptr, nullptr, &utc);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (set)
        return 0;
    return error != 0 ? static_cast<int>(error) : kExitFailed;
}
