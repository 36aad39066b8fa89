// Control and command ids of the main window, its timers and its own message.
#pragma once
#include <windows.h>

enum MainControlId {
    ID_SERVER_EDIT = 100,
    ID_LOGIN_EDIT = 101,
    ID_PASSWORD_EDIT = 102,
    ID_SIGN_IN = 103,
    ID_ORG_COMBO = 104,
    ID_SEND = 105,
    ID_ITEM_LIST = 106,
    ID_NEW_WORK = 107,
    ID_WEB = 108,
    ID_COMPOSER = 109,
    ID_REASON_EDIT = 110,
    ID_STAFF_COMBO = 111,
    ID_ACTION_FIRST = 120,
    ID_ACTION_LAST = 125,
    ID_CREATE_TICKET = 126,
    ID_ATTACH = 130,
    ID_FILE_COMBO = 131,
    ID_DOWNLOAD = 132,
    ID_SEARCH_EDIT = 140,
    ID_FIND = 141,
    ID_OLDER = 142,
    ID_NEWER = 143,
    ID_LATEST = 144,
    ID_MESSAGE_COMBO = 150,
    ID_REPLY = 151,
    ID_EDIT = 152,
    ID_FORWARD = 153,
    ID_CANCEL_MODE = 154,
    ID_HINT = 155,
    ID_MORE = 160,
};

static_assert(ID_SERVER_EDIT == 100 && ID_MORE == 160, "main window ids stay within 100..160");
static_assert(ID_ACTION_LAST - ID_ACTION_FIRST == 5, "six work item action buttons");

// The hidden labels that name the fields for screen readers (layout.h). They
// never send a command, so sharing numbers with the menu's commands is safe:
// those arrive from the menu, never from a control.
const int ID_LABEL_FIRST = 170;
const int ID_LABEL_LAST = 189;
static_assert(ID_LABEL_FIRST > int(ID_MORE), "the labels' ids follow the published controls' ids");

// Commands of the message actions menu.
enum MenuCommandId {
    ID_MENU_LIKE = 171,
    ID_MENU_HEART = 172,
    ID_MENU_DONE = 173,
    ID_MENU_WATCH = 174,
    ID_MENU_PIN = 175,
    ID_MENU_DELETE = 176,
};
static_assert(int(ID_MENU_LIKE) > int(ID_MORE) && ID_MENU_DELETE - ID_MENU_LIKE == 5, "menu commands follow the control ids");

const UINT_PTR TIMER_REFRESH = 1;
const UINT TIMER_REFRESH_MS = 4000;
const UINT_PTR TIMER_SELF_TEST = 2;
const UINT TIMER_SELF_TEST_MS = 1000;
