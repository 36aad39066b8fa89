// Server faults met by a signed-in window with work in progress. Each case
// arms one fault on the local server (or in the relay in front of it), lets
// the next refresh or action meet it, and checks what the operator is left
// with, then that the next periodic refresh recovers.
#include "scenario.h"

#include "ui/main/ids.h"
#include "ui/main/work.h"

namespace {

const std::string historyPath = "/api/rooms/st-main/messages";

std::string serverFault(const std::string& path, const std::string& method, const std::string& rest) {
    return "{\"path\":\"" + path + "\",\"method\":\"" + method + "\"," + rest + "}";
}

std::function<void(Fixture&)> onServer(const std::string& json) {
    return [json](Fixture&) { fault(json); };
}

std::string quoted(const std::string& utf8Text) { return jsonQuote(toUtf16(utf8Text)); }

// Whether the second host ever saw a request (and so possibly the token).
void nothingReached(Relay& secondHost, TableRow& row) {
    std::vector<std::string> heads = relayHeads(secondHost);
    bool authorised = false;
    for (const std::string& head : heads)
        if (head.find("Authorization") != std::string::npos || head.find("authorization") != std::string::npos)
            authorised = true;
    HOLDS(row, !authorised);
    HOLDS(row, heads.empty());
}

struct ProbeTotals {
    std::atomic<unsigned long long> worstMicros{0};
    std::atomic<int> answered{0};
    std::atomic<int> unanswered{0};
};

// Another thread sends the window what it gets while a job waits: timer
// ticks and a command (both refused while busy) and a text query, and times
// every answer.
void probeWindow(HWND window, ProbeTotals& totals, unsigned long long forMs) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    unsigned long long end = nowMs() + forMs;
    for (int round = 0; nowMs() < end; ++round) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        DWORD_PTR answer = 0;
        LRESULT ok;
        switch (round % 3) {
        case 0: ok = SendMessageTimeoutW(window, WM_TIMER, 1, 0, SMTO_NORMAL, 1000, &answer); break;
        case 1:
            ok = SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(ID_FIND, 0), 0, SMTO_NORMAL, 1000, &answer);
            break;
        default: ok = SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 1000, &answer); break;
        }
        QueryPerformanceCounter(&after);
        unsigned long long micros =
            static_cast<unsigned long long>((after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart);
        if (ok) ++totals.answered;
        else ++totals.unanswered;
        if (micros > totals.worstMicros) totals.worstMicros = micros;
        Sleep(10);
    }
}

}  // namespace

TEST_CASE("the server is unreachable, drops or cuts the connection") {
    SUBCASE("connection refused") {
        Scenario s;
        s.tried = "connection refused (nothing listens)";
        s.trigger = Trigger::Reply;
        s.arm = [](Fixture& f) { pauseRelay(f.relay); };
        s.status = connectionRefused;
        runScenario(s);
    }
    SUBCASE("dropped before the head") {
        Scenario s;
        s.tried = "connection closed before the response head";
        s.arm = onServer(serverFault(historyPath, "GET", "\"kind\":\"drop\""));
        s.status = cannotReach;
        s.afterFault = [](Fixture& f, TableRow& row) {
            HOLDS(row, textOf(f.window.state.transcriptView) != unavailableText);
        };
        runScenario(s);
    }
    SUBCASE("dropped mid-body") {
        Scenario s;
        s.tried = "connection closed in the middle of the body";
        s.arm = onServer(serverFault(historyPath, "GET", "\"kind\":\"cut\""));
        s.status = cannotReach;
        runScenario(s);
    }
}

TEST_CASE("a blip of several refresh periods keeps the page; a refusal still empties it") {
    resetData();
    Relay relay;
    startRelay(relay, serverPort());
    // Three periodic refreshes meet the fault, on an older page in reply mode;
    // then the server is back.
    auto blip = [&relay](const char* tried, std::function<void()> arm, std::function<void()> disarm,
                         const std::wstring& failure) {
        TableRow row("fault", tried,
                     "transcript, hint, paging and composer unchanged; the failure with the time of the data; the "
                     "connected line and the same page once the server is back, by the periodic refresh");
        LiveWindow w(relayUrl(relay));
        MainWindowState& st = w.state;
        REQUIRE(signInAndOpen(w, adminLogin, adminPassword));
        REQUIRE_FALSE(st.nextBefore.empty());
        sendCommand(w, ID_OLDER);
        REQUIRE(settle(w));
        REQUIRE_FALSE(st.beforeCursor.empty());
        std::wstring replyTo;
        for (const MessageActions& m : st.actions)
            if (m.canReply) replyTo = m.id;
        REQUIRE(selectMessage(w, replyTo));
        sendCommand(w, ID_REPLY);
        SetWindowTextW(st.composerEdit, L"Черновик ответа во время обрыва связи");
        const std::wstring page = textOf(st.transcriptView), hint = textOf(st.hintLabel);
        const std::wstring cursor = st.beforeCursor, draft = composer(w);
        auto unchanged = [&] {
            return textOf(st.transcriptView) == page && textOf(st.hintLabel) == hint && composer(w) == draft &&
                   st.replyToId == replyTo && st.beforeCursor == cursor &&
                   (st.busy || (IsWindowEnabled(st.newerButton) && IsWindowEnabled(st.latestButton)));
        };
        // The window's own periodic refresh, at its own pace; its jobs counted.
        static std::atomic<int> refreshes{0};
        refreshes = 0;
        netJobLauncher = [](NetJob* job) {
            if (job->kind == NetJobKind::Refresh) ++refreshes;
            return launchNetJobThread(job);
        };
        SetTimer(w.window, TIMER_REFRESH, TIMER_REFRESH_MS, nullptr);
        arm();
        bool held = true;
        unsigned long long end = nowMs() + 3 * TIMER_REFRESH_MS + 1000;
        while (nowMs() < end) {
            pumpFor(100);
            held = held && unchanged();
        }
        HOLDS(row, settle(w));
        const int failures = refreshes;
        HOLDS(row, held);
        HOLDS(row, failures >= 2);
        HOLDS(row, statusText(w).rfind(failure + L" · показаны данные на ", 0) == 0);
        disarm();
        HOLDS(row, pumpUntil([&] { return showsConnectedLine(w); }, 3 * TIMER_REFRESH_MS));
        HOLDS(row, unchanged());
        KillTimer(w.window, TIMER_REFRESH);
        row.note = std::to_string(failures) + " failed refreshes seen";
    };
    blip("server out of reach for three periodic refreshes, on an older page in reply mode",
         [&relay] { pauseRelay(relay); }, [&relay] { resumeRelay(relay); }, connectionRefused);
    // A reverse proxy in front of a restarting server.
    blip("every request of the refresh answered 502 with an HTML page for three periodic refreshes",
         [] {
             fault(serverFault("/api/rooms*", "", "\"kind\":\"status\",\"status\":502,\"count\":-1,"
                                              "\"contentType\":\"text/html\",\"body\":" +
                                                  quoted("<html><body><h1>502 Bad Gateway</h1></body></html>")));
         },
         [] { clearFaults(); }, refusedStatus);
    {
        TableRow row("fault", "the history refused with 403 by the server",
                     "the view empties as before: the unavailable text, no room, sending off");
        LiveWindow w(relayUrl(relay));
        MainWindowState& st = w.state;
        REQUIRE(signInAndOpen(w, adminLogin, adminPassword));
        fault(serverFault(historyPath, "GET", "\"kind\":\"status\",\"status\":403,\"body\":\"{\\\"error\\\":\\\"Нет доступа\\\"}\""));
        tick(w);
        REQUIRE(settle(w));
        HOLDS_EQ(row, statusText(w), std::wstring(L"Нет доступа"));
        HOLDS_EQ(row, textOf(st.transcriptView), std::wstring(unavailableText));
        HOLDS(row, st.roomId.empty());
        HOLDS(row, !IsWindowEnabled(st.sendButton));
        clearFaults();
    }
    stopRelay(relay);
}

TEST_CASE("a stalled server: no head, or a body that trickles") {
    SUBCASE("head never sent; the window answers within 250 ms meanwhile") {
        ProbeTotals totals;
        Scenario s;
        s.tried = "response head never sent";
        s.arm = onServer(serverFault(historyPath, "GET", "\"kind\":\"silent\",\"seconds\":25"));
        s.status = noAnswer;
        s.limitMs = 14000;
        s.whileWaiting = [&totals](LiveWindow& w) { probeWindow(w.window, totals, 8000); };
        runScenario(s);

        TableRow row("responsiveness",
                     "timer ticks, a command and a text query sent from another thread while a job waits on a "
                     "silent server",
                     "every one answered within 250 ms");
        row.note = std::to_string(totals.answered.load()) + " answered, worst " +
                   std::to_string(totals.worstMicros.load() / 1000) + " ms";
        HOLDS(row, totals.answered.load() > 100);
        HOLDS_EQ(row, totals.unanswered.load(), 0);
        // A blocked window stalls for seconds; 250 ms tells that apart from a
        // loaded machine's scheduling.
        HOLDS(row, totals.worstMicros.load() < 250000);
    }
    SUBCASE("gaps in the body longer than the receive time-out") {
        Scenario s;
        s.tried = "body trickled with 12 s gaps (receive time-out 10 s)";
        s.arm = onServer(serverFault(historyPath, "GET", "\"kind\":\"trickle\",\"chunk\":64,\"interval\":12"));
        s.status = noAnswer;
        s.limitMs = 14000;
        runScenario(s);
    }
    SUBCASE("a steady trickle whose whole body takes far longer than the receive time-out") {
        Scenario s;
        s.tried = "body trickled 16 bytes every 0.5 s (minutes for one page)";
        s.trigger = Trigger::EditSave;
        s.arm = onServer(serverFault("/api/messages/st-090", "PATCH",
                                     "\"kind\":\"trickle\",\"chunk\":16,\"interval\":0.5,\"body\":" +
                                         quoted("{\"pad\":\"" + std::string(4000, 'x') + "\"}")));
        s.status = noAnswer;
        s.limitMs = 14000;
        runScenario(s);
    }
}

TEST_CASE("replies that cannot be read") {
    SUBCASE("truncated JSON") {
        Scenario s;
        s.tried = "200 with truncated JSON";
        s.arm = onServer(serverFault(historyPath, "GET",
                                     "\"kind\":\"raw\",\"body\":" + quoted("{\"items\":[{\"id\":\"st-1\",\"text\":\"обры")));
        s.status = unreadable;
        runScenario(s);
    }
    SUBCASE("an HTML error page") {
        Scenario s;
        s.tried = "502 with an HTML page";
        s.trigger = Trigger::Reply;
        s.arm = onServer(serverFault(historyPath, "POST",
                                     "\"kind\":\"status\",\"status\":502,\"contentType\":\"text/html\",\"body\":" +
                                         quoted("<html><body><h1>502 Bad Gateway</h1></body></html>")));
        s.status = refusedStatus;
        runScenario(s);
    }
    SUBCASE("an empty error body") {
        Scenario s;
        s.tried = "500 with an empty body";
        s.trigger = Trigger::EditSave;
        s.arm = onServer(serverFault("/api/messages/st-090", "PATCH", "\"kind\":\"status\",\"status\":500,\"body\":\"\""));
        s.status = refusedStatus;
        runScenario(s);
    }
    SUBCASE("a reply of 8000001 bytes") {
        Scenario s;
        s.tried = "200 with 8000001 bytes";
        s.arm = onServer(serverFault(historyPath, "GET", "\"kind\":\"oversize\",\"bytes\":8000001"));
        s.status = cannotReach;
        runScenario(s);
    }
    SUBCASE("a reply of 2097153 values") {
        Scenario s;
        s.tried = "room list of 2097153 values (more tokens than the table may hold)";
        s.arm = onServer(serverFault("/api/rooms", "GET", "\"kind\":\"raw\",\"values\":2097153"));
        s.status = unreadable;
        runScenario(s);
    }
    SUBCASE("10000-deep nesting") {
        Scenario s;
        s.tried = "history page nested 10000 arrays deep";
        s.arm = onServer(serverFault(historyPath, "GET",
                                     "\"kind\":\"raw\",\"body\":\"" + std::string(10000, '[') + std::string(10000, ']') + "\""));
        // The lookups read a document of another shape as an empty page.
        s.afterFault = [](Fixture& f, TableRow& row) { HOLDS(row, f.window.state.actions.empty()); };
        runScenario(s);
    }
    SUBCASE("invalid UTF-8") {
        Scenario s;
        s.tried = "history page with invalid UTF-8 in names and texts";
        s.arm = [](Fixture& f) {
            std::string page =
                "{\"items\":[{\"id\":\"st-bad\",\"senderName\":\"\xD0\xBA\xD0\",\"text\":\"before \xFF\xFE\xC0\xAF after "
                "\xED\xA0\x80 \xF4\x90\x80\x80\",\"createdAt\":\"2024-05-01T09:30:12Z\",\"canReply\":true}],"
                "\"page\":{\"nextBefore\":\"\",\"size\":1},\"canWrite\":true}";
            addRelayRule(f.relay, RelayRule{"GET", historyPath, httpReply(200, page), -1, 1});
        };
        s.afterFault = [](Fixture& f, TableRow& row) {
            std::wstring shown = textOf(f.window.state.transcriptView);
            HOLDS(row, shown.find(L"before ") != std::wstring::npos);
            HOLDS(row, shown.find(L" after") != std::wstring::npos);
            HOLDS(row, shown.find(L'\xFFFD') != std::wstring::npos);
        };
        runScenario(s);
    }
}

TEST_CASE("a redirect to another host never carries the token there") {
    Relay secondHost;
    startRelay(secondHost, 0);
    addRelayRule(secondHost, RelayRule{"", "/", httpReply(200, "{\"items\":[]}"), -1, -1});
    const std::string elsewhere = utf8(relayUrl(secondHost, L"localhost"));

    SUBCASE("302 on the history page") {
        Scenario s;
        s.tried = "302 to " + std::string("another host and port");
        s.arm = onServer(serverFault(historyPath, "GET",
                                     "\"kind\":\"redirect\",\"status\":302,\"location\":\"" + elsewhere + historyPath + "\""));
        s.status = L"Ресурс перемещён";
        s.afterRecovery = [&secondHost](Fixture&, TableRow& row) { nothingReached(secondHost, row); };
        runScenario(s);
    }
    SUBCASE("307 on sending a reply") {
        Scenario s;
        s.tried = "307 to another host and port";
        s.trigger = Trigger::Reply;
        s.arm = onServer(serverFault(historyPath, "POST",
                                     "\"kind\":\"redirect\",\"status\":307,\"location\":\"" + elsewhere + historyPath + "\""));
        s.status = L"Ресурс перемещён";
        s.afterRecovery = [&secondHost](Fixture&, TableRow& row) { nothingReached(secondHost, row); };
        runScenario(s);
    }
    stopRelay(secondHost);
}

TEST_CASE("the server dies in the middle of a file") {
    SUBCASE("mid-upload") {
        Scenario s;
        s.tried = "connection reset after 256 KiB of a 4 MiB upload";
        s.trigger = Trigger::Upload;
        s.arm = [](Fixture& f) { addRelayRule(f.relay, RelayRule{"POST", "/api/files", "", 256 * 1024, 1}); };
        s.status = cannotReach;
        s.afterRecovery = [](Fixture& f, TableRow& row) {
            bool listed = false;
            for (const ListRow& file : f.window.state.files)
                if (file.label == L"upload.bin") listed = true;
            HOLDS(row, !listed);
        };
        runScenario(s);
    }
    SUBCASE("mid-download") {
        Scenario s;
        s.tried = "connection closed after half of a download";
        s.trigger = Trigger::Download;
        s.arm = onServer(serverFault("/api/files/st-file-1", "GET", "\"kind\":\"cut\""));
        s.status = cannotReach;
        runScenario(s);
    }
}
