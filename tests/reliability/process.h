// Local input the program reads: standard input fed to the window in this
// process, and the real kesta.exe run as a child process.
#pragma once
#include "reliability.h"
#include "kesta_process.h"

#include <string>
#include <vector>

// Puts the bytes into a pipe, makes it standard input, lets the window read
// its sign-in data from it, and restores standard input. Returns how many
// bytes were left unread in the pipe.
size_t feedStandardInput(LiveWindow& w, const std::string& bytes);

struct ProcessRun {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0xFFFFFFFF;
};

// Runs build/kesta.exe with these arguments, the bytes on standard input and
// the given working folder; waits at most 60 s. With closeInput false the
// pipe stays open (and silent after the bytes) until the program ends.
ProcessRun runKesta(const std::vector<std::wstring>& args, const std::string& input, const std::wstring& folder,
                    bool closeInput = true);

// Names of the files and folders directly inside a folder.
std::vector<std::wstring> filesIn(const std::wstring& folder);

// A folder nobody may create files in: a read-only one if this system honours
// that, otherwise a read-only part of the file system. `how` says which.
std::wstring unwritableFolder(const std::wstring& scratch, std::string& how);
