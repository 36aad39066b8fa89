#include "ui/main/layout.h"
#include "ui/main/dpi.h"
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

const FieldLabel fieldLabels[fieldLabelCount] = {
    {&MainWindowState::serverEdit, ID_LABEL_FIRST + 0, L"Адрес сервера"},
    {&MainWindowState::loginEdit, ID_LABEL_FIRST + 1, L"Логин"},
    {&MainWindowState::passwordEdit, ID_LABEL_FIRST + 2, L"Пароль"},
    {&MainWindowState::orgCombo, ID_LABEL_FIRST + 3, L"Организация"},
    {&MainWindowState::modeTabs, ID_LABEL_FIRST + 4, L"Раздел"},
    {&MainWindowState::itemList, ID_LABEL_FIRST + 5, L"Список разговоров"},
    {&MainWindowState::transcriptView, ID_LABEL_FIRST + 6, L"Переписка"},
    {&MainWindowState::composerEdit, ID_LABEL_FIRST + 7, L"Сообщение"},
    {&MainWindowState::reasonEdit, ID_LABEL_FIRST + 8, L"Пояснение для изменения статуса"},
    {&MainWindowState::staffCombo, ID_LABEL_FIRST + 9, L"Исполнитель"},
    {&MainWindowState::fileCombo, ID_LABEL_FIRST + 10, L"Файлы разговора"},
    {&MainWindowState::searchEdit, ID_LABEL_FIRST + 11, L"Поиск по сообщениям"},
    {&MainWindowState::messageCombo, ID_LABEL_FIRST + 12, L"Выбранное сообщение"},
};
static_assert(ID_LABEL_FIRST + fieldLabelCount - 1 <= ID_LABEL_LAST, "the labels' ids stay within their range");

const FieldLabel* labelBefore(int index) {
    for (const FieldLabel& label : fieldLabels)
        if (mainControls[index].handle == label.field) return &label;
    return nullptr;
}

std::wstring composerName(bool replying, bool editing, const std::wstring& sender) {
    if (editing) return L"Сообщение — изменение";
    if (replying) return L"Сообщение — ответ для " + sender;
    return L"Сообщение";
}

HWND& controlHandle(MainWindowState& state, int index) {
    const ControlSpec& row = mainControls[index];
    if (row.actionIndex >= 0) return state.actionButtons[row.actionIndex];
    return state.*(row.handle);
}

std::array<ControlRect, mainControlCount> layoutForClientSize(int W, int H, int dpi) {
    auto s = [dpi](int value) { return scaleToDpi(value, dpi); };
    return {{
        {s(15), s(12), s(260), s(27)},            // serverEdit
        {s(285), s(12), s(130), s(27)},           // loginEdit
        {s(425), s(12), s(140), s(27)},           // passwordEdit
        {s(575), s(12), s(100), s(27)},           // signInButton
        {s(15), s(50), s(280), s(280)},           // orgCombo
        {s(15), s(86), s(280), s(30)},            // modeTabs
        {s(15), s(165), s(280), H - s(200)},      // itemList
        {s(15), s(125), s(280), s(30)},           // newWorkButton
        {W - s(205), s(12), s(190), s(27)},       // webButton
        {s(315), s(194), W - s(330), H - s(402)}, // transcriptView
        {s(315), H - s(103), W - s(540), s(56)},  // composerEdit
        {W - s(115), H - s(103), s(100), s(56)},  // sendButton
        {s(15), H - s(27), W - s(30), s(22)},     // statusLabel
        {s(315), s(53), W - s(330), s(28)},       // headerLabel
        {s(315), s(87), W - s(510), s(25)},       // reasonEdit
        {s(315), s(120), s(160), s(250)},         // staffCombo
        {s(480 + 78 * 0), s(120), s(74), s(26)},  // actionButtons
        {s(480 + 78 * 1), s(120), s(74), s(26)},
        {s(480 + 78 * 2), s(120), s(74), s(26)},
        {s(480 + 78 * 3), s(120), s(74), s(26)},
        {s(480 + 78 * 4), s(120), s(74), s(26)},
        {s(480 + 78 * 5), s(120), s(74), s(26)},
        {W - s(180), s(87), s(165), s(25)},       // createTicketButton
        {W - s(215), H - s(103), s(90), s(30)},   // attachButton
        {s(315), H - s(160), W - s(510), s(200)}, // fileCombo
        {W - s(180), H - s(160), s(165), s(26)},  // downloadButton
        {s(315), s(156), W - s(820), s(28)},      // searchEdit
        {W - s(495), s(156), s(80), s(28)},       // findButton
        {W - s(405), s(156), s(100), s(28)},      // olderButton
        {W - s(295), s(156), s(100), s(28)},      // newerButton
        {W - s(185), s(156), s(170), s(28)},      // latestButton
        {s(315), H - s(201), W - s(910), s(250)}, // messageCombo
        {W - s(485), H - s(201), s(90), s(28)},   // replyButton
        {W - s(385), H - s(201), s(100), s(28)},  // editButton
        {W - s(275), H - s(201), s(115), s(28)},  // forwardButton
        {W - s(150), H - s(201), s(135), s(28)},  // cancelModeButton
        {s(315), H - s(127), W - s(330), s(22)},  // hintLabel
        {W - s(585), H - s(201), s(90), s(28)},   // moreButton
    }};
}

void layoutMainWindow(MainWindowState& state) {
    RECT client{};
    if (!GetClientRect(state.window, &client)) return;
    auto rects = layoutForClientSize(client.right - client.left, client.bottom - client.top, state.dpi);
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
