#include "x_input.h"
#include "kesta_process.h"

#include <vector>


bool xdotool(const std::string& arguments) {
    // Wine starts a Linux program without a handle that tells when it ends:
    // the shell around xdotool leaves its exit status in a mark file.
    static int serial = 0;
    std::string mark = "/tmp/kesta-xinput-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    std::wstring line = L"/bin/sh -c \"xdotool " + wideAscii(arguments) + L"; echo $? > " + wideAscii(mark) + L"\"";
    std::vector<wchar_t> mutableLine(line.begin(), line.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(L"Z:\\bin\\sh", mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (int i = 0; i < 600; ++i) {
        std::string status = readHostFile(mark);
        if (!status.empty() && status.back() == '\n') {
            DeleteFileW(windowsPath(mark).c_str());
            return status == "0\n";
        }
        Sleep(50);
    }
    return false;
}

bool clickControl(HWND control) {
    RECT r{};
    if (!GetWindowRect(control, &r)) return false;
    // Without a window manager Wine's screen coordinates are the X root's.
    return xdotool("mousemove " + std::to_string((r.left + r.right) / 2) + " " + std::to_string((r.top + r.bottom) / 2) +
                   " click 1");
}
