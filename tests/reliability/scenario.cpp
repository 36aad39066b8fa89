#include "scenario.h"

#include "net/http.h"
#include "ui/main/ids.h"

const wchar_t cannotReach[] = L"Не удалось связаться с сервером или открыть файл";
const wchar_t connectionRefused[] = L"Не удалось связаться с сервером или открыть файл (соединение отклонено)";
const wchar_t noAnswer[] = L"Не удалось связаться с сервером или открыть файл (нет ответа)";
const wchar_t unreadable[] = L"Не удалось прочитать ответ сервера";
const wchar_t refusedStatus[] = L"Сервер отклонил запрос";
const wchar_t unavailableText[] = L"Данные недоступны. Выберите другой разговор или войдите снова.";
const wchar_t adminLogin[] = L"selftest-admin";
const wchar_t adminPassword[] = L"kesta";

namespace {

const std::string targetBefore = "прежнее содержимое файла\n";
const wchar_t replyTarget[] = L"st-088";
const wchar_t editTarget[] = L"st-090";
const wchar_t editedText[] = L"Исправленный текст, ещё не сохранённый";

std::string uploadBytes() {
    std::string bytes(4 * 1024 * 1024, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

// A refresh that could not reach the server or read its reply keeps the page
// and says how old it is.
bool keepsPage(const Scenario& s) {
    return s.trigger == Trigger::Refresh && (s.status.rfind(cannotReach, 0) == 0 || s.status == unreadable);
}

std::string expectation(const Scenario& s) {
    std::string what = s.status.empty() ? "the connected line" : "\"" + utf8(s.status) + "\"";
    if (keepsPage(s)) what += " with the time of the data";
    what += " within " + std::to_string(s.limitMs / 1000) + " s; ";
    switch (s.trigger) {
    case Trigger::Refresh: what += keepsPage(s) ? "page and draft kept" : "draft kept"; break;
    case Trigger::Reply: what += "draft and reply mode kept"; break;
    case Trigger::EditSave: what += "edited text, edit mode and set-aside draft kept"; break;
    case Trigger::Upload: what += "draft and the chosen file kept"; break;
    case Trigger::Download: what += "draft kept, old target untouched, no temporary file"; break;
    }
    return what + "; the next refresh recovers";
}

const char* triggerName(Trigger t) {
    switch (t) {
    case Trigger::Refresh: return "periodic refresh";
    case Trigger::Reply: return "sending a reply";
    case Trigger::EditSave: return "saving an edit";
    case Trigger::Upload: return "attaching a file";
    case Trigger::Download: return "downloading a file";
    }
    return "";
}

}  // namespace

int serverPort() {
    std::wstring server = testServer();
    return std::stoi(server.substr(server.rfind(L':') + 1));
}

void runScenario(const Scenario& s) {
    resetData();
    Relay relay;
    startRelay(relay, serverPort());
    ScratchFolder scratch;
    const std::wstring target = scratch.file(L"цель загрузки.txt");
    const std::wstring upload = scratch.file(L"upload.bin");
    writeWholeFile(target, targetBefore);
    const std::string uploadContent = uploadBytes();
    writeWholeFile(upload, uploadContent);
    chosenUpload = upload;
    chosenDownload = target;
    beforeUploadChosen = nullptr;
    useScriptedFileDialogs();

    TableRow row(s.area, s.tried + " (" + triggerName(s.trigger) + ")", expectation(s));
    {
        LiveWindow w(relayUrl(relay));
        Fixture fixture{relay, w, upload, target};
        MainWindowState& st = w.state;
        REQUIRE(signInAndOpen(w, adminLogin, adminPassword));
        REQUIRE(st.roomId == L"st-main");

        const std::wstring draft = L"Черновик оператора, который нельзя потерять";
        SetWindowTextW(st.composerEdit, draft.c_str());
        switch (s.trigger) {
        case Trigger::Reply:
            REQUIRE(selectMessage(w, replyTarget));
            sendCommand(w, ID_REPLY);
            REQUIRE(st.replyToId == replyTarget);
            break;
        case Trigger::EditSave:
            REQUIRE(selectMessage(w, editTarget));
            sendCommand(w, ID_EDIT);
            REQUIRE(st.editId == editTarget);
            SetWindowTextW(st.composerEdit, editedText);
            break;
        case Trigger::Download:
            REQUIRE(selectFile(w, L"st-file-1"));
            break;
        default: break;
        }
        const std::wstring hint = textOf(st.hintLabel);

        if (s.arm) s.arm(fixture);
        unsigned long long started = nowMs();
        switch (s.trigger) {
        case Trigger::Refresh: tick(w); break;
        case Trigger::Reply:
        case Trigger::EditSave: sendCommand(w, ID_SEND); break;
        case Trigger::Upload: sendCommand(w, ID_ATTACH); break;
        case Trigger::Download: sendCommand(w, ID_DOWNLOAD); break;
        }
        HOLDS(row, st.busy);

        std::thread prober;
        if (s.whileWaiting) prober = std::thread([&] { s.whileWaiting(w); });
        bool ended = settle(w, s.limitMs + 20000);
        unsigned long long elapsed = nowMs() - started;
        if (prober.joinable()) prober.join();
        row.note = "handled after " + std::to_string(elapsed) + " ms";

        HOLDS(row, ended);
        HOLDS(row, elapsed <= s.limitMs);
        HOLDS(row, IsWindow(w.window) != FALSE);
        const bool blip = keepsPage(s);
        if (s.status.empty()) HOLDS(row, showsConnectedLine(w));
        else if (blip) HOLDS(row, statusText(w).rfind(s.status + L" · показаны данные на ", 0) == 0);
        else HOLDS_EQ(row, statusText(w), s.status);
        if (blip) HOLDS_EQ(row, st.roomId, std::wstring(L"st-main"));
        switch (s.trigger) {
        case Trigger::Reply:
            HOLDS_EQ(row, composer(w), draft);
            HOLDS_EQ(row, st.replyToId, std::wstring(replyTarget));
            HOLDS_EQ(row, textOf(st.hintLabel), hint);
            break;
        case Trigger::EditSave:
            HOLDS_EQ(row, composer(w), std::wstring(editedText));
            HOLDS_EQ(row, st.editId, std::wstring(editTarget));
            HOLDS_EQ(row, st.savedText, draft);
            break;
        default: HOLDS_EQ(row, composer(w), draft); break;
        }
        HOLDS(row, readWholeFile(target) == targetBefore);
        HOLDS(row, !fileExists(target + L".kestadownload"));
        if (!s.uploadFileMayChange) HOLDS(row, readWholeFile(upload) == uploadContent);
        if (s.afterFault) s.afterFault(fixture, row);

        // The server behaves again: the next periodic refresh brings the room back.
        clearFaults();
        clearRelayRules(relay);
        resumeRelay(relay);
        beforeUploadChosen = nullptr;
        tick(w);
        HOLDS(row, settle(w, 20000));
        HOLDS(row, showsConnectedLine(w));
        HOLDS_EQ(row, st.roomId, std::wstring(L"st-main"));
        HOLDS(row, textOf(st.transcriptView) != unavailableText);
        HOLDS(row, IsWindowEnabled(st.sendButton) != FALSE);
        if (s.trigger == Trigger::EditSave) {
            HOLDS_EQ(row, composer(w), std::wstring(editedText));
            HOLDS_EQ(row, st.editId, std::wstring(editTarget));
            sendCommand(w, ID_CANCEL_MODE);
        } else if (s.trigger == Trigger::Reply) {
            HOLDS_EQ(row, st.replyToId, std::wstring(replyTarget));
        }
        HOLDS_EQ(row, composer(w), draft);
        if (s.afterRecovery) s.afterRecovery(fixture, row);
        HOLDS(row, !networkOnUiThread.load());
    }
    beforeUploadChosen = nullptr;
    stopRelay(relay);
}
