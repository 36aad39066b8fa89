#include <doctest/doctest.h>
#include "app/startup.h"
#include "ui/main/dpi.h"
#include "ui/main/ids.h"
#include "ui/main/layout.h"
#include "ui/main/window.h"
#include <cmath>
#include <set>
#include <vector>

namespace {
// Client size of a window of the minimum tracking size, 1100 x 650.
SIZE minimumClient() {
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    return {1100 - (frame.right - frame.left), 650 - (frame.bottom - frame.top)};
}

int indexOfId(int id) {
    for (int i = 0; i < mainControlCount; ++i)
        if (mainControls[i].id == id) return i;
    return -1;
}

// Every control inside the client area, none over another.
void checkAllFitApart(int W, int H, int dpi) {
    auto m = layoutForClientSize(W, H, dpi);
    std::vector<RECT> shown;
    for (int i = 0; i < mainControlCount; ++i) {
        // A closed combo box is about a button high; its list drops over the others.
        bool combo = std::wstring(mainControls[i].className) == L"ComboBox";
        int height = combo ? scaleToDpi(28, dpi) : m[i].height;
        shown.push_back({m[i].left, m[i].top, m[i].left + m[i].width, m[i].top + height});
    }
    for (int i = 0; i < mainControlCount; ++i) {
        CAPTURE(i);
        const RECT& a = shown[static_cast<size_t>(i)];
        CHECK(a.left >= 0);
        CHECK(a.top >= 0);
        CHECK(a.right <= W);
        CHECK(a.bottom <= H);
        CHECK(a.right > a.left);
        CHECK(a.bottom > a.top);
        for (int j = i + 1; j < mainControlCount; ++j) {
            CAPTURE(j);
            RECT both{};
            CHECK_FALSE(IntersectRect(&both, &a, &shown[static_cast<size_t>(j)]));
        }
    }
}
}

TEST_CASE("layout places every control where the table says, at two sizes") {
    struct Expect { int id; int l, t, w, h; };
    for (auto size : {std::pair<int, int>{1264, 781}, std::pair<int, int>{1280, 820}}) {
        int W = size.first, H = size.second;
        auto r = layoutForClientSize(W, H, 96);
        const Expect rows[] = {
            {ID_SERVER_EDIT, 15, 12, 260, 27},       {ID_LOGIN_EDIT, 285, 12, 130, 27},
            {ID_PASSWORD_EDIT, 425, 12, 140, 27},    {ID_SIGN_IN, 575, 12, 100, 27},
            {ID_WEB, W - 205, 12, 190, 27},          {ID_ORG_COMBO, 15, 50, 280, 280},
            {ID_NEW_WORK, 15, 125, 280, 30},         {ID_ITEM_LIST, 15, 165, 280, H - 200},
            {ID_REASON_EDIT, 315, 87, W - 510, 25},  {ID_CREATE_TICKET, W - 180, 87, 165, 25},
            {ID_STAFF_COMBO, 315, 120, 160, 250},    {ID_SEARCH_EDIT, 315, 156, W - 820, 28},
            {ID_FIND, W - 495, 156, 80, 28},         {ID_OLDER, W - 405, 156, 100, 28},
            {ID_NEWER, W - 295, 156, 100, 28},       {ID_LATEST, W - 185, 156, 170, 28},
            {ID_MESSAGE_COMBO, 315, H - 201, W - 910, 250}, {ID_MORE, W - 585, H - 201, 90, 28},
            {ID_REPLY, W - 485, H - 201, 90, 28},    {ID_EDIT, W - 385, H - 201, 100, 28},
            {ID_FORWARD, W - 275, H - 201, 115, 28}, {ID_CANCEL_MODE, W - 150, H - 201, 135, 28},
            {ID_FILE_COMBO, 315, H - 160, W - 510, 200}, {ID_DOWNLOAD, W - 180, H - 160, 165, 26},
            {ID_HINT, 315, H - 127, W - 330, 22},    {ID_COMPOSER, 315, H - 103, W - 540, 56},
            {ID_ATTACH, W - 215, H - 103, 90, 30},   {ID_SEND, W - 115, H - 103, 100, 56},
        };
        for (const Expect& e : rows) {
            CAPTURE(e.id);
            int i = indexOfId(e.id);
            REQUIRE(i >= 0);
            CHECK(r[i].left == e.l);
            CHECK(r[i].top == e.t);
            CHECK(r[i].width == e.w);
            CHECK(r[i].height == e.h);
        }
        for (int a = 0; a < 6; ++a) {
            int i = indexOfId(ID_ACTION_FIRST + a);
            CHECK(r[i].left == 480 + 78 * a);
            CHECK(r[i].top == 120);
            CHECK(r[i].width == 74);
            CHECK(r[i].height == 26);
        }
        // The four controls without ids, found by their handle slot.
        for (int i = 0; i < mainControlCount; ++i) {
            auto h = mainControls[i].handle;
            if (h == &MainWindowState::modeTabs) CHECK((r[i].left == 15 && r[i].top == 86 && r[i].width == 280 && r[i].height == 30));
            if (h == &MainWindowState::headerLabel) CHECK((r[i].left == 315 && r[i].top == 53 && r[i].width == W - 330 && r[i].height == 28));
            if (h == &MainWindowState::transcriptView) CHECK((r[i].left == 315 && r[i].top == 194 && r[i].width == W - 330 && r[i].height == H - 402));
            if (h == &MainWindowState::statusLabel) CHECK((r[i].left == 15 && r[i].top == H - 27 && r[i].width == W - 30 && r[i].height == 22));
        }
    }
}

TEST_CASE("at the minimum tracking size every control keeps a positive size") {
    SIZE client = minimumClient();
    REQUIRE(client.cx > 1000);
    auto r = layoutForClientSize(client.cx, client.cy, 96);
    for (int i = 0; i < mainControlCount; ++i) {
        CAPTURE(i);
        CHECK(r[i].width > 0);
        CHECK(r[i].height > 0);
    }
    CHECK(r[indexOfId(ID_MESSAGE_COMBO)].width > 150);
}

TEST_CASE("laid out twice, a real window's controls stay where the first layout put them") {
    prepareWindowing(GetModuleHandleW(nullptr));
    MainWindowState s;
    s.serverUrl = L"http://127.0.0.1:9";
    HWND window = createMainWindow(GetModuleHandleW(nullptr), s);
    REQUIRE(window);
    SetWindowPos(window, nullptr, 0, 0, 1300, 900, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(window, &client);
    auto where = [&] {
        std::vector<RECT> rects;
        for (int i = 0; i < mainControlCount; ++i) {
            RECT r{};
            GetWindowRect(controlHandle(s, i), &r);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
            rects.push_back(r);
        }
        return rects;
    };
    layoutMainWindow(s);
    std::vector<RECT> first = where();
    auto planned = layoutForClientSize(client.right, client.bottom, s.dpi);
    for (int i = 0; i < mainControlCount; ++i) {
        CAPTURE(i);
        CHECK(first[static_cast<size_t>(i)].left == planned[static_cast<size_t>(i)].left);
        CHECK(first[static_cast<size_t>(i)].top == planned[static_cast<size_t>(i)].top);
    }
    layoutMainWindow(s);
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    std::vector<RECT> second = where();
    for (int i = 0; i < mainControlCount; ++i) {
        CAPTURE(i);
        CHECK(EqualRect(&first[static_cast<size_t>(i)], &second[static_cast<size_t>(i)]));
    }
    DestroyWindow(window);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST_CASE("the control table: 38 controls, unique ids within 100..160, every handle slot distinct") {
    std::set<int> ids;
    int withoutId = 0;
    for (int i = 0; i < mainControlCount; ++i) {
        const ControlSpec& c = mainControls[i];
        if (c.id == 0) {
            ++withoutId;
            continue;
        }
        CHECK(c.id >= 100);
        CHECK(c.id <= 160);
        CHECK(ids.insert(c.id).second);
    }
    CHECK(withoutId == 4);
    MainWindowState s;
    std::set<HWND*> handles;
    for (int i = 0; i < mainControlCount; ++i) CHECK(handles.insert(&controlHandle(s, i)).second);
}

TEST_CASE("at 96, 120, 144 and 192 DPI every control is its 96-DPI rectangle scaled, and at the minimum size all fit apart; so on screens smaller than the minimum") {
    // A 96-DPI client size that each scale turns into whole pixels.
    const int W96 = 1264, H96 = 780;
    auto at96 = layoutForClientSize(W96, H96, 96);
    for (int dpi : {96, 120, 144, 192}) {
        CAPTURE(dpi);
        const double f = dpi / 96.0;
        auto r = layoutForClientSize(W96 * dpi / 96, H96 * dpi / 96, dpi);
        for (int i = 0; i < mainControlCount; ++i) {
            CAPTURE(i);
            CHECK(std::abs(r[i].left - at96[i].left * f) <= 1.0);
            CHECK(std::abs(r[i].top - at96[i].top * f) <= 1.0);
            CHECK(std::abs(r[i].width - at96[i].width * f) <= 1.0);
            CHECK(std::abs(r[i].height - at96[i].height * f) <= 1.0);
        }

        SIZE frame = frameSizeForDpi(WS_OVERLAPPEDWINDOW, 0, dpi);
        checkAllFitApart(scaleToDpi(1100, dpi) - frame.cx, scaleToDpi(650, dpi) - frame.cy, dpi);
    }
    // Screens whose work area (a 40-pixel taskbar below) is smaller than the
    // scaled minimum, where the window is the work area: the layout gives up
    // height from the transcript and the list, width from the text fields.
    struct Screen { int dpi, width, height; };
    for (const Screen& screen : {Screen{120, 1366, 728}, Screen{96, 1280, 680}, Screen{168, 1920, 1040}}) {
        CAPTURE(screen.dpi);
        SIZE least = minimumWindowSize(screen.dpi, RECT{0, 0, screen.width, screen.height});
        CHECK(least.cx == std::min(scaleToDpi(1100, screen.dpi), screen.width));
        CHECK(least.cy == std::min(scaleToDpi(650, screen.dpi), screen.height));
        SIZE frame = frameSizeForDpi(WS_OVERLAPPEDWINDOW, 0, screen.dpi);
        checkAllFitApart(least.cx - frame.cx, least.cy - frame.cy, screen.dpi);
    }
}

TEST_CASE("where the window first appears and where a dialog opens, at a display scale") {
    const RECT wide{0, 0, 1600, 1000}, laptop{0, 0, 1366, 728}, second{1920, 0, 3840, 1040};
    auto rect = [](RECT r) { return std::vector<long>{r.left, r.top, r.right - r.left, r.bottom - r.top}; };
    // As today where it fits; cut to a small laptop's work area, never below
    // the minimum; kept inside the monitor it opened on.
    CHECK(rect(firstWindowRect({26, 26, 0, 0}, {1280, 820}, {1100, 650}, wide)) == std::vector<long>{26, 26, 1280, 820});
    CHECK(rect(firstWindowRect({26, 26, 0, 0}, {1280, 820}, {1100, 650}, laptop)) == std::vector<long>{26, 0, 1280, 728});
    CHECK(rect(firstWindowRect({26, 26, 0, 0}, {1600, 1025}, {1375, 813}, laptop)) == std::vector<long>{0, 0, 1375, 813});
    CHECK(rect(firstWindowRect({1950, 30, 0, 0}, {1920, 1230}, {1650, 975}, second)) ==
          std::vector<long>{1920, 0, 1920, 1040});

    // A dialog keeps its window size at 96 DPI; elsewhere its client area
    // scales and the frame is that DPI's. Centred on the owner's monitor.
    CHECK(rect(dialogWindowRect({540, 270}, {6, 25}, {6, 25}, 96, wide)) == std::vector<long>{530, 365, 540, 270});
    CHECK(rect(dialogWindowRect({540, 270}, {6, 25}, {6, 43}, 192, second)) ==
          std::vector<long>{1920 + 423, 253, 1074, 533});
    CHECK(rect(dialogWindowRect({500, 365}, {6, 25}, {8, 48}, 192, laptop)) == std::vector<long>{185, 0, 996, 728});
}
