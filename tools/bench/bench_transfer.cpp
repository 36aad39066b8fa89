// Transfers through the client's transport: one upload of a file and one
// download of the uploaded file, against the local server (demo data).
//
// bench_transfer SERVER FILE ROUNDS
//   FILE is a Windows path of the file to upload. Prints per round the
//   seconds of each transfer and the growth of the process's memory during
//   it: GetProcessMemoryInfo's PeakWorkingSetSize after minus WorkingSetSize
//   before (Wine fills both from the process's resident set and reports
//   PrivateUsage as 0). Also prints the token, the organisation and the
//   room, so the driver can make curl do the same.
#include "timing.h"

#include "net/http.h"
#include "text/errors.h"
#include "text/json.h"
#include "text/utf.h"

#include <psapi.h>


namespace {

struct Memory {
    double workingSet = 0, peakWorkingSet = 0;
};

Memory memoryNow() {
    Memory m;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
        m.workingSet = static_cast<double>(counters.WorkingSetSize);
        m.peakWorkingSet = static_cast<double>(counters.PeakWorkingSetSize);
    }
    return m;
}

HttpReply call(const std::wstring& server, const std::wstring& method, const std::wstring& path,
               const std::string& body, const std::wstring& token) {
    HttpRequest request;
    request.serverUrl = server;
    request.method = method;
    request.path = path;
    request.body = body;
    request.token = token;
    return sendHttpRequest(request);
}

struct Measured {
    double seconds = 0, peakGrowth = 0;
};

template <typename F>
Measured measured(F transfer) {
    Memory before = memoryNow();
    Measured m;
    {
        double start = secondsNow();
        transfer();
        m.seconds = secondsNow() - start;
    }
    Memory after = memoryNow();
    m.peakGrowth = after.peakWorkingSet - before.workingSet;
    if (m.peakGrowth < 0) m.peakGrowth = 0;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: bench_transfer SERVER FILE ROUNDS\n");
        return 2;
    }
    const std::wstring server = toUtf16(argv[1]);
    const std::wstring file = toUtf16(argv[2]);
    const int rounds = std::atoi(argv[3]);
    try {
        JsonValue login = parse(call(server, L"POST", L"/api/auth/login",
                                     "{\"login\": \"operator\", \"password\": \"kesta\"}", L""));
        const std::wstring token = memberString(login, 0, "token");
        JsonValue me = parse(call(server, L"GET", L"/api/me", "", token));
        std::vector<JsonIndex> orgs = arrayElements(me, findMember(me, 0, "memberships"));
        const std::wstring org = orgs.empty() ? L"" : memberString(me, orgs[0], "id");
        JsonValue rooms = parse(call(server, L"GET", L"/api/rooms?orgId=" + urlEncode(org), "", token));
        std::vector<JsonIndex> list = arrayElements(rooms, 0);
        const std::wstring room = list.empty() ? L"" : memberString(rooms, list[0], "id");
        std::printf("{\"part\": \"transfer\", \"case\": \"session\", \"token\": \"%s\", \"org\": \"%s\", \"room\": \"%s\"}\n",
                    toUtf8(token).c_str(), toUtf8(org).c_str(), toUtf8(room).c_str());
        std::fflush(stdout);

        // Warm up the transport and the heap before the first figure.
        call(server, L"GET", L"/api/me", "", token);
        for (int i = 0; i < rounds; ++i) {
            std::wstring fileId;
            Measured up = measured([&] {
                HttpRequest request;
                request.serverUrl = server;
                request.token = token;
                request.method = L"POST";
                request.path = L"/api/files?roomId=" + urlEncode(room) + L"&orgId=" + urlEncode(org) +
                               L"&name=bench-upload.bin";
                request.uploadPath = file;
                JsonValue reply = parse(sendHttpRequest(request));
                fileId = memberString(reply, 0, "id");
            });
            const std::wstring target = file + L".down";
            DeleteFileW(target.c_str());
            Measured down = measured([&] {
                HttpRequest request;
                request.serverUrl = server;
                request.token = token;
                request.method = L"GET";
                request.path = L"/api/files/" + urlEncode(fileId);
                request.downloadPath = target;
                sendHttpRequest(request);
            });
            WIN32_FILE_ATTRIBUTE_DATA data{};
            double size = GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data)
                              ? static_cast<double>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                                                    data.nFileSizeLow)
                              : 0;
            DeleteFileW(target.c_str());
            printRecord("transfer", "upload",
                        {{"seconds", up.seconds}, {"peakGrowth", up.peakGrowth}});
            printRecord("transfer", "download",
                        {{"seconds", down.seconds},
                         {"peakGrowth", down.peakGrowth},
                         {"bytes", size}});
            std::printf("{\"part\": \"transfer\", \"case\": \"file\", \"id\": \"%s\"}\n", toUtf8(fileId).c_str());
            std::fflush(stdout);
        }
    } catch (const UserMessage& m) {
        std::printf("{\"error\": \"refused: %s\"}\n", toUtf8(m.text).c_str());
        return 1;
    } catch (const TransportFailure& f) {
        std::printf("{\"error\": \"transport: %s\"}\n", f.category.c_str());
        return 1;
    }
    return 0;
}
