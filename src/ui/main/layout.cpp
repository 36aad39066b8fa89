#include "ui/main/layout.h"
#include "ui/main/ids.h"
#include <initializer_list>
#include <richedit.h>

namespace {
const DWORD pushButton = BS_PUSHBUTTON;
const DWORD singleLine = WS_BORDER | ES_AUTOHSCROLL;
const DWORD dropList = CBS_DROPDOWNLIST;
const DWORD label = SS_LEFT;
}

const ControlSpec mainControls[mainControlCount] = {
    {L"EDIT", L"", singleLine, ID_SERVER_EDIT, &MainWindowState::serverEdit, -1, nullptr, 0},
    {L"EDIT", L"", singleLine, ID_LOGIN_EDIT, &MainWindowState::loginEdit, -1, L"Логин", 0},
    {L"EDIT", L"", singleLine | ES_PASSWORD, ID_PASSWORD_EDIT, &MainWindowState::passwordEdit, -1, L"Пароль", 0},
    {L"BUTTON", L"Войти", pushButton, ID_SIGN_IN, &MainWindowState::signInButton, -1, nullptr, 0},
    {L"ComboBox", L"", dropList, ID_ORG_COMBO, &MainWindowState::orgCombo, -1, nullptr, 0},
    {L"SysTabControl32", L"", 0, 0, &MainWindowState::modeTabs, -1, nullptr, 0},
    {L"LISTBOX", L"", WS_VSCROLL | WS_BORDER | LBS_NOTIFY, ID_ITEM_LIST,
     &MainWindowState::itemList, -1, nullptr, 0},
    {L"BUTTON", L"Создать / управление в веб", pushButton, ID_NEW_WORK, &MainWindowState::newWorkButton, -1, nullptr, 0},
    {L"BUTTON", L"Полный веб-интерфейс ↗", pushButton, ID_WEB, &MainWindowState::webButton, -1, nullptr, 0},
    {L"RICHEDIT50W", L"", WS_VSCROLL | WS_BORDER | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, 0,
     &MainWindowState::transcriptView, -1, nullptr, 600000},
    {L"EDIT", L"", WS_VSCROLL | WS_BORDER | ES_AUTOVSCROLL | ES_MULTILINE, ID_COMPOSER,
     &MainWindowState::composerEdit, -1, nullptr, 4000},
    {L"BUTTON", L"Отправить", pushButton, ID_SEND, &MainWindowState::sendButton, -1, nullptr, 0},
    {L"STATIC", L"Введите логин и пароль", label, 0, &MainWindowState::statusLabel, -1, nullptr, 0},
    {L"STATIC", L"Kesta — Поддержка", label, 0, &MainWindowState::headerLabel, -1, nullptr, 0},
    {L"EDIT", L"", singleLine, ID_REASON_EDIT, &MainWindowState::reasonEdit, -1, L"Пояснение для изменения статуса", 0},
    {L"ComboBox", L"", dropList, ID_STAFF_COMBO, &MainWindowState::staffCombo, -1, nullptr, 0},
    {L"BUTTON", L"Назначить", pushButton, ID_ACTION_FIRST + 0, nullptr, 0, nullptr, 0},
    {L"BUTTON", L"В работу", pushButton, ID_ACTION_FIRST + 1, nullptr, 1, nullptr, 0},
    {L"BUTTON", L"Ожидание", pushButton, ID_ACTION_FIRST + 2, nullptr, 2, nullptr, 0},
    {L"BUTTON", L"Готово", pushButton, ID_ACTION_FIRST + 3, nullptr, 3, nullptr, 0},
    {L"BUTTON", L"Закрыть", pushButton, ID_ACTION_FIRST + 4, nullptr, 4, nullptr, 0},
    {L"BUTTON", L"Открыть", pushButton, ID_ACTION_FIRST + 5, nullptr, 5, nullptr, 0},
    {L"BUTTON", L"Создать заявку", pushButton, ID_CREATE_TICKET, &MainWindowState::createTicketButton, -1, nullptr, 0},
    {L"BUTTON", L"Файл…", pushButton, ID_ATTACH, &MainWindowState::attachButton, -1, nullptr, 0},
    {L"ComboBox", L"", dropList, ID_FILE_COMBO, &MainWindowState::fileCombo, -1, nullptr, 0},
    {L"BUTTON", L"Скачать файл…", pushButton, ID_DOWNLOAD, &MainWindowState::downloadButton, -1, nullptr, 0},
    {L"EDIT", L"", singleLine, ID_SEARCH_EDIT, &MainWindowState::searchEdit, -1, L"Поиск по сообщениям · Enter", 200},
    {L"BUTTON", L"Найти", pushButton, ID_FIND, &MainWindowState::findButton, -1, nullptr, 0},
    {L"BUTTON", L"Раньше", pushButton, ID_OLDER, &MainWindowState::olderButton, -1, nullptr, 0},
    {L"BUTTON", L"Позже", pushButton, ID_NEWER, &MainWindowState::newerButton, -1, nullptr, 0},
    {L"BUTTON", L"К последним", pushButton, ID_LATEST, &MainWindowState::latestButton, -1, nullptr, 0},
    {L"ComboBox", L"", dropList, ID_MESSAGE_COMBO, &MainWindowState::messageCombo, -1, nullptr, 0},
    {L"BUTTON", L"Ответить", pushButton, ID_REPLY, &MainWindowState::replyButton, -1, nullptr, 0},
    {L"BUTTON", L"Изменить", pushButton, ID_EDIT, &MainWindowState::editButton, -1, nullptr, 0},
    {L"BUTTON", L"Переслать…", pushButton, ID_FORWARD, &MainWindowState::forwardButton, -1, nullptr, 0},
    {L"BUTTON", L"Отменить", pushButton, ID_CANCEL_MODE, &MainWindowState::cancelModeButton, -1, nullptr, 0},
    {L"STATIC", L"", label, ID_HINT, &MainWindowState::hintLabel, -1, nullptr, 0},
    {L"BUTTON", L"Ещё…", pushButton, ID_MORE, &MainWindowState::moreButton, -1, nullptr, 0},
};

HWND& controlHandle(MainWindowState& state, int index) {
    const ControlSpec& row = mainControls[index];
    if (row.actionIndex >= 0) return state.actionButtons[row.actionIndex];
    return state.*(row.handle);
}

std::array<ControlRect, mainControlCount> layoutForClientSize(int W, int H) {
    return {{
        {15, 12, 260, 27},             // serverEdit
        {285, 12, 130, 27},            // loginEdit
        {425, 12, 140, 27},            // passwordEdit
        {575, 12, 100, 27},            // signInButton
        {15, 50, 280, 280},            // orgCombo
        {15, 86, 280, 30},             // modeTabs
        {15, 165, 280, H - 200},       // itemList
        {15, 125, 280, 30},            // newWorkButton
        {W - 205, 12, 190, 27},        // webButton
        {315, 194, W - 330, H - 402},  // transcriptView
        {315, H - 103, W - 540, 56},   // composerEdit
        {W - 115, H - 103, 100, 56},   // sendButton
        {15, H - 27, W - 30, 22},      // statusLabel
        {315, 53, W - 330, 28},        // headerLabel
        {315, 87, W - 510, 25},        // reasonEdit
        {315, 120, 160, 250},          // staffCombo
        {480 + 78 * 0, 120, 74, 26},   // actionButtons
        {480 + 78 * 1, 120, 74, 26},
        {480 + 78 * 2, 120, 74, 26},
        {480 + 78 * 3, 120, 74, 26},
        {480 + 78 * 4, 120, 74, 26},
        {480 + 78 * 5, 120, 74, 26},
        {W - 180, 87, 165, 25},        // createTicketButton
        {W - 215, H - 103, 90, 30},    // attachButton
        {315, H - 160, W - 510, 200},  // fileCombo
        {W - 180, H - 160, 165, 26},   // downloadButton
        {315, 156, W - 820, 28},       // searchEdit
        {W - 495, 156, 80, 28},        // findButton
        {W - 405, 156, 100, 28},       // olderButton
        {W - 295, 156, 100, 28},       // newerButton
        {W - 185, 156, 170, 28},       // latestButton
        {315, H - 201, W - 910, 250},  // messageCombo
        {W - 485, H - 201, 90, 28},    // replyButton
        {W - 385, H - 201, 100, 28},   // editButton
        {W - 275, H - 201, 115, 28},   // forwardButton
        {W - 150, H - 201, 135, 28},   // cancelModeButton
        {315, H - 127, W - 330, 22},   // hintLabel
        {W - 585, H - 201, 90, 28},    // moreButton
    }};
}

void layoutMainWindow(MainWindowState& state) {
    RECT client{};
    if (!GetClientRect(state.window, &client)) return;
    auto rects = layoutForClientSize(client.right - client.left, client.bottom - client.top);
    for (int i = 0; i < mainControlCount; ++i) {
        HWND control = controlHandle(state, i);
        if (control) MoveWindow(control, rects[i].left, rects[i].top, rects[i].width, rects[i].height, FALSE);
    }
    // The selectors' lists open as wide as the transcript above them, where
    // excerpts and file names can be read; the boxes keep their places.
    int listWidth = 0;
    for (int i = 0; i < mainControlCount; ++i)
        if (mainControls[i].handle == &MainWindowState::transcriptView) listWidth = rects[i].width;
    for (HWND combo : {state.messageCombo, state.fileCombo}) {
        // Wine refuses a width below the list's present one, which already
        // holds the last width set: a width of 1 first takes the list back
        // to the box's own width.
        SendMessageW(combo, CB_SETDROPPEDWIDTH, 1, 0);
        SendMessageW(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(listWidth), 0);
    }
    // The main window has no WS_CLIPCHILDREN: what a resize exposes of it is
    // erased over the controls moved there, which are not told to draw again,
    // and a control drawn at once is left half-covered by its neighbours' old
    // places. Everything is drawn once the layout is done, parent first.
    RedrawWindow(state.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}
