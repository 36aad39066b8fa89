// The real main window against the local support server, with real worker
// threads: what an operator does, and what the window and the server show.
#include <doctest/doctest.h>
#include "app/selftest.h"
#include "app/startup.h"
#include "net/http.h"
#include "ui/dialogs/actions.h"
#include "ui/main/composer.h"
#include "ui/main/dispatch.h"
#include "ui/main/ids.h"
#include "ui/main/window.h"
#include <commctrl.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::wstring wide(const char* s) {
    std::wstring w;
    for (; s && *s; ++s) w += static_cast<wchar_t>(static_cast<unsigned char>(*s));
    return w;
}

struct Live {
    MainWindowState state;
    HWND window = nullptr;

    Live() {
        static bool prepared = false;
        if (!prepared) {
            prepared = true;
            uiThreadId = GetCurrentThreadId();
            prepareWindowing(GetModuleHandleW(nullptr));
        }
        netJobLauncher = launchNetJobThread;
        const char* server = std::getenv("KESTA_TEST_SERVER");
        REQUIRE(server);
        state.serverUrl = wide(server);
        window = createMainWindow(GetModuleHandleW(nullptr), state);
        layoutMainWindow(state);
    }
    ~Live() {
        if (IsWindow(window)) DestroyWindow(window);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_NET_RESULT) delete reinterpret_cast<NetResult*>(msg.lParam);
        }
    }

    void pump(DWORD ms) {
        DWORD start = GetTickCount();
        MSG msg;
        do {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(5);
        } while (GetTickCount() - start < ms);
    }

    // Until no job runs and none follows.
    void settle() {
        for (int i = 0; i < 1000; ++i) {
            pump(20);
            if (!state.busy) {
                pump(60);
                if (!state.busy) return;
            }
        }
        FAIL("the window never became idle");
    }

    void command(int id, int code = 0) {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), 0);
        settle();
    }

    void signIn(const wchar_t* login) {
        SetWindowTextW(state.loginEdit, login);
        SetWindowTextW(state.passwordEdit, L"kesta");
        command(ID_SIGN_IN);
    }

    void selectTab(int tab) {
        TabCtrl_SetCurSel(state.modeTabs, tab);
        NMHDR n{state.modeTabs, 0, static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
        settle();
    }

    void selectRow(const std::wstring& id) {
        for (size_t i = 0; i < state.listRows.size(); ++i)
            if (state.listRows[i].id == id) {
                SendMessageW(state.itemList, LB_SETCURSEL, i, 0);
                command(ID_ITEM_LIST, LBN_SELCHANGE);
                return;
            }
        FAIL("no row " << std::string(id.begin(), id.end()));
    }

    std::wstring transcript() { return windowText(state.transcriptView); }
    std::wstring status() { return windowText(state.statusLabel); }
    bool shows(const std::wstring& part) { return transcript().find(part) != std::wstring::npos; }
};

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}
}  // namespace

TEST_CASE("sign in, browse, page, search, switch tabs and organisations, act on a case") {
    Live live;
    MainWindowState& s = live.state;
    live.signIn(L"selftest-admin");
    CHECK(s.selectedId == L"st-main");
    CHECK(s.roomId == L"st-main");
    CHECK(live.status() == L"Подключено · " + s.userName + L" · Страница 1 · Ctrl+Enter — отправить");
    CHECK_FALSE(live.transcript().empty());
    CHECK_FALSE(live.shows(L"history fixture probe 7f3a"));

    int pages = 1;
    while (IsWindowEnabled(s.olderButton) && pages < 10) {
        live.command(ID_OLDER);
        ++pages;
    }
    CHECK(pages == 4);
    CHECK(live.shows(L"history fixture probe 7f3a"));
    CHECK(live.status().find(L"Страница 4") != std::wstring::npos);
    live.command(ID_NEWER);
    CHECK(live.status().find(L"Страница 3") != std::wstring::npos);
    live.command(ID_LATEST);
    CHECK(live.status().find(L"Страница 1") != std::wstring::npos);

    SetWindowTextW(s.searchEdit, L"HISTORY FIXTURE probe");
    live.command(ID_FIND);
    CHECK(s.actions.size() == 1);
    CHECK(live.shows(L"history fixture probe 7f3a"));
    CHECK(live.status().find(L"Поиск: HISTORY FIXTURE probe") != std::wstring::npos);
    live.command(ID_LATEST);

    live.selectTab(1);
    CHECK(s.mode == 1);
    CHECK(s.listRows.size() == 3);
    live.selectRow(L"st-case-1");
    CHECK(windowText(s.headerLabel) == L"Проверка: новое обращение — В очереди");
    CHECK(IsWindowEnabled(s.actionButtons[0]));
    CHECK(IsWindowEnabled(s.createTicketButton));
    int version = s.workVersion;
    SetWindowTextW(s.reasonEdit, L"Беру себе");
    live.command(ID_ACTION_FIRST);  // assign, to the first staff member
    CHECK(s.workVersion == version + 1);
    CHECK(windowText(s.headerLabel) == L"Проверка: новое обращение — Назначено");

    // An action on a stale view is refused with the server's own words. The
    // periodic refresh is held off meanwhile: on a loaded machine it could
    // fall due during the action and overwrite the status before it is read.
    KillTimer(live.window, TIMER_REFRESH);
    s.workVersion = version;
    live.command(ID_ACTION_FIRST + 4);
    CHECK(live.status() != L"Готово");
    CHECK_FALSE(live.status().empty());
    CHECK(live.status().find(L"Подключено") == std::wstring::npos);
    MESSAGE("stale version refused with: " << narrow(live.status()));
    SetTimer(live.window, TIMER_REFRESH, TIMER_REFRESH_MS, nullptr);

    live.selectTab(2);
    CHECK(s.listRows.size() >= 1);
    CHECK(s.selectedId == L"st-ticket-1");

    SendMessageW(s.orgCombo, CB_SETCURSEL, 1, 0);
    live.command(ID_ORG_COMBO, CBN_SELCHANGE);
    CHECK(s.orgId == L"org-st-second");
    live.selectTab(0);
    CHECK(s.selectedId == L"st2-general");

    // Sign-out is local; the server forgets the token in the background.
    live.command(ID_SIGN_IN);
    CHECK(s.token.empty());
    CHECK(live.status() == L"Сеанс закрыт локально");
}

TEST_CASE("every message action goes through and the page that follows shows it") {
    Live live;
    MainWindowState& s = live.state;
    live.signIn(L"selftest-admin");
    REQUIRE(s.selectedId == L"st-main");

    SUBCASE("reply, edit, react, pin, delete") {
        REQUIRE(selectMessageById(s, L"st-088"));
        live.command(ID_REPLY);
        SetWindowTextW(s.composerEdit, L"Ответ на вопрос клиента");
        live.command(ID_SEND);
        CHECK(live.shows(L"Ответ на вопрос клиента"));
        CHECK(live.shows(L"[Ответ: "));
        CHECK(windowText(s.composerEdit).empty());

        REQUIRE(selectMessageById(s, L"st-090"));
        live.command(ID_EDIT);
        SetWindowTextW(s.composerEdit, L"Исправленный текст сообщения");
        live.command(ID_SEND);
        CHECK(live.shows(L"Исправленный текст сообщения"));
        CHECK(live.shows(L" · изменено:"));

        selfTest.moderationScenario = true;  // the menu takes its scripted command
        REQUIRE(selectMessageById(s, L"st-093"));
        selfTest.scriptedCommand = ID_MENU_LIKE;
        live.command(ID_MORE);
        CHECK(live.shows(L"👍 1 (ваша)"));
        CHECK(selectedMessage(s)->likedByMe);
        CHECK(live.status() == L"Реакция обновлена");

        selfTest.scriptedCommand = ID_MENU_PIN;
        live.command(ID_MORE);
        CHECK(selectedMessage(s)->pinned);
        CHECK(live.shows(L"[Закреплено]"));

        selfTest.scriptedCommand = ID_MENU_DELETE;
        selfTest.cancelExercised = true;  // the dialog confirms
        live.command(ID_MORE);
        CHECK(live.shows(L"[Сообщение удалено]"));
        CHECK(live.status() == L"Сообщение удалено");
        REQUIRE(selectMessageById(s, L"st-093"));
        CHECK_FALSE(selectedMessage(s)->canDelete);
        selfTest.moderationScenario = false;
        selfTest.cancelExercised = false;
    }
    SUBCASE("forward to another room") {
        selfTest.actionsScenario = true;  // the dialog picks forwardRoom and confirms itself
        selfTest.forwardRoom = L"st-forward";
        REQUIRE(selectMessageById(s, L"st-088"));
        live.command(ID_FORWARD);
        live.settle();
        selfTest.actionsScenario = false;
        CHECK(live.status().find(L"Сообщение переслано: Проверка: пересылка") == 0);
        live.selectRow(L"st-forward");
        CHECK(live.shows(L"[Переслано от "));
    }
    SUBCASE("upload a file, then download it byte for byte") {
        wchar_t dir[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, dir);
        static std::wstring upload, download;
        upload = std::wstring(dir) + L"kesta upload проверка.bin";
        download = std::wstring(dir) + L"kesta download.bin";
        std::string bytes;
        for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 31) % 251);
        HANDLE f = CreateFileW(upload.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
        DeleteFileW(download.c_str());
        FileDialogs saved = fileDialogs;
        fileDialogs.chooseUpload = [](HWND, std::wstring& path) {
            path = upload;
            return true;
        };
        fileDialogs.chooseDownload = [](HWND, std::wstring& path) {
            path = download;
            return true;
        };
        live.command(ID_ATTACH);
        int row = -1;
        for (size_t i = 0; i < s.files.size(); ++i)
            if (s.files[i].label == L"kesta upload проверка.bin") row = static_cast<int>(i);
        REQUIRE(row >= 0);
        SendMessageW(s.fileCombo, CB_SETCURSEL, row, 0);
        live.command(ID_DOWNLOAD);
        fileDialogs = saved;
        CHECK(live.status().find(L"Подключено") == 0);
        f = CreateFileW(download.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(f != INVALID_HANDLE_VALUE);
        std::string back(bytes.size() + 10, '\0');
        DWORD got = 0;
        ReadFile(f, &back[0], static_cast<DWORD>(back.size()), &got, nullptr);
        CloseHandle(f);
        back.resize(got);
        CHECK(back == bytes);
        CHECK(GetFileAttributesW((download + L".kestadownload").c_str()) == INVALID_FILE_ATTRIBUTES);
        DeleteFileW(upload.c_str());
        DeleteFileW(download.c_str());
    }
}
