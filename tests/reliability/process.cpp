#include "process.h"

#include "app/stdin_signin.h"

size_t feedStandardInput(LiveWindow& w, const std::string& bytes) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    REQUIRE(CreatePipe(&readEnd, &writeEnd, nullptr, static_cast<DWORD>(bytes.size() + 65536)));
    DWORD written = 0;
    WriteFile(writeEnd, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    REQUIRE(written == bytes.size());
    HANDLE previous = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, readEnd);
    readSignInFromStdin(w.state);
    SetStdHandle(STD_INPUT_HANDLE, previous);
    DWORD left = 0;
    PeekNamedPipe(readEnd, nullptr, 0, nullptr, &left, nullptr);
    CloseHandle(writeEnd);
    CloseHandle(readEnd);
    return left;
}

ProcessRun runKesta(const std::vector<std::wstring>& args, const std::string& input, const std::wstring& folder,
                    bool closeInput) {
    KestaLaunch launch;
    launch.arguments = args;
    launch.pipeInput = true;
    launch.input = input;
    launch.closeInput = closeInput;
    launch.folder = folder;
    KestaChild child = startKesta(launch);
    EndKestaOnExit ending{child};
    ProcessRun run;
    run.started = child.started;
    if (run.started) run.finished = waitForKesta(child, 60000, &run.exitCode);
    return run;
}

std::vector<std::wstring> filesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

namespace {
bool refusesNewFiles(const std::wstring& folder) {
    std::wstring probe = folder + L"\\kesta-write-probe.tmp";
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    DeleteFileW(probe.c_str());
    return false;
}
}  // namespace

std::wstring unwritableFolder(const std::wstring& scratch, std::string& how) {
    std::wstring folder = scratch + L"\\только чтение";
    CreateDirectoryW(folder.c_str(), nullptr);
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    if (refusesNewFiles(folder)) {
        how = "a folder marked read-only";
        return folder;
    }
    // Wine ignores the read-only mark on folders, and a superuser writes
    // anywhere he has a write bit for; the kernel's own file systems refuse
    // new files to everybody.
    for (const wchar_t* candidate : {L"Z:\\sys", L"Z:\\proc"}) {
        if (refusesNewFiles(candidate)) {
            how = std::string("the read-only system folder ") + (candidate[3] == L's' ? "/sys" : "/proc");
            return candidate;
        }
    }
    how = "no unwritable folder found";
    return folder;
}
