// A window left open all day: thousands of periodic refreshes and hundreds of
// actions against the local server must leave no handles, threads or memory
// behind, and every worker thread must end. The quick run here is part of the
// test command; tools/soak.sh runs the same case with the soak's counts.
#include "scenario.h"

#include "ui/main/ids.h"

namespace {

int countFromEnvironment(const wchar_t* name, int fallback) {
    std::wstring text = environmentText(name);
    if (text.empty()) return fallback;
    int value = std::stoi(text);
    return value > 0 ? value : fallback;
}

const MessageActions* lastOwnMessage(const LiveWindow& w) {
    for (auto it = w.state.actions.rbegin(); it != w.state.actions.rend(); ++it)
        if (it->canEdit) return &*it;
    return nullptr;
}

// One action of the rotation: send, edit the message just sent, download,
// upload. Each ends with the refresh that follows a successful action.
bool act(LiveWindow& w, int n, const std::wstring& upload, const std::wstring& target) {
    MainWindowState& s = w.state;
    switch (n % 4) {
    case 0: {
        std::wstring text = L"Сообщение долгого прогона " + std::to_wstring(n);
        SetWindowTextW(s.composerEdit, text.c_str());
        sendCommand(w, ID_SEND);
        break;
    }
    case 1: {
        const MessageActions* own = lastOwnMessage(w);
        if (!own || !selectMessage(w, own->id)) return false;
        sendCommand(w, ID_EDIT);
        std::wstring text = L"Исправлено в долгом прогоне " + std::to_wstring(n);
        SetWindowTextW(s.composerEdit, text.c_str());
        sendCommand(w, ID_SEND);
        break;
    }
    case 2:
        if (s.files.empty()) return false;
        chosenDownload = target;
        SendMessageW(s.fileCombo, CB_SETCURSEL, 0, 0);
        sendCommand(w, ID_DOWNLOAD);
        break;
    default:
        chosenUpload = upload;
        sendCommand(w, ID_ATTACH);
        break;
    }
    if (!s.busy) return false;
    return settle(w) && showsConnectedLine(w);
}

}  // namespace

TEST_CASE("long run: refresh cycles and actions leave nothing behind") {
    const int cycles = countFromEnvironment(L"KESTA_SOAK_CYCLES", 300);
    const int actions = countFromEnvironment(L"KESTA_SOAK_ACTIONS", 100);
    resetData();
    ScratchFolder scratch;
    const std::wstring upload = scratch.file(L"вложение.txt");
    const std::wstring target = scratch.file(L"скачано.txt");
    writeWholeFile(upload, "небольшое вложение долгого прогона\n");
    useScriptedFileDialogs();
    beforeUploadChosen = nullptr;

    LiveWindow w(testServer());
    REQUIRE(signInAndOpen(w, adminLogin, adminPassword));
    // Warm-up: every path once, so that lazily made things (fonts, WinHTTP's
    // and Winsock's own state, heap arenas) are there before counting.
    for (int i = 0; i < 8; ++i) act(w, i, upload, target);
    for (int i = 0; i < 20; ++i) {
        tick(w);
        settle(w);
    }
    pumpFor(500);
    ProcessCounters before = processCounters();

    TableRow refreshRow("long run", std::to_string(cycles) + " periodic refresh cycles against the local server",
                        "every cycle ends (no hang) with the connected line and the room shown");
    int refreshed = 0;
    unsigned long long started = nowMs();
    for (int i = 0; i < cycles; ++i) {
        tick(w);
        if (!w.state.busy) continue;
        if (settle(w) && showsConnectedLine(w) && w.state.roomId == L"st-main") ++refreshed;
    }
    refreshRow.note = std::to_string(refreshed) + " of " + std::to_string(cycles) + " in " +
                      std::to_string((nowMs() - started) / 1000) + " s";
    HOLDS_EQ(refreshRow, refreshed, cycles);

    TableRow actionRow("long run", std::to_string(actions) + " actions: send, edit, download, upload in turn",
                       "every action succeeds and its refresh ends with the connected line");
    int acted = 0;
    started = nowMs();
    for (int i = 0; i < actions; ++i)
        if (act(w, i, upload, target)) ++acted;
    actionRow.note = std::to_string(acted) + " of " + std::to_string(actions) + " in " +
                     std::to_string((nowMs() - started) / 1000) + " s";
    HOLDS_EQ(actionRow, acted, actions);
    HOLDS(actionRow, !fileExists(target + L".kestadownload"));

    TableRow resourceRow("long run", "handles, threads and private bytes before and after the runs",
                         "threads back to the idle count (every worker ended); handles grow by at most 16; private "
                         "bytes by at most 8 MiB");
    long threadsAfter = threadsSettleTo(before.threads, 5000);
    pumpFor(200);
    ProcessCounters after = processCounters();
    resourceRow.note = "threads " + std::to_string(before.threads) + " -> " + std::to_string(threadsAfter) +
                       ", handles " + std::to_string(before.handles) + " -> " + std::to_string(after.handles) +
                       ", private KiB " + std::to_string(before.privateBytes / 1024) + " -> " +
                       std::to_string(after.privateBytes / 1024);
    MESSAGE(resourceRow.note);
    HOLDS(resourceRow, before.handles > 0 && before.threads > 0 && before.privateBytes > 0);
    HOLDS(resourceRow, threadsAfter <= before.threads);
    HOLDS(resourceRow, after.handles <= before.handles + 16);
    HOLDS(resourceRow, after.privateBytes <= before.privateBytes + 8ull * 1024 * 1024);
    HOLDS(resourceRow, !networkOnUiThread.load());
}
