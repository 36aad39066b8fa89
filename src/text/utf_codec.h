// UTF-8 and UTF-16 for builds that have no system conversion (the native
// fuzzing build): the same call shape and replacement rules as
// MultiByteToWideChar and WideCharToMultiByte with CP_UTF8 and no flags. Each
// wchar_t holds one UTF-16 unit whatever its size; a value above 0xFFFF is
// no unit and converts like an unpaired surrogate. Compiled into the Windows
// build too, where a test compares it with the system.
#pragma once

// The length of the result when `room` is 0, else the units or bytes written
// into `out`, or 0 when they do not fit. A count of 0 or less gives 0.
int portableUtf8ToUtf16(const char* bytes, int count, wchar_t* out, int room);
int portableUtf16ToUtf8(const wchar_t* units, int count, char* out, int room);
