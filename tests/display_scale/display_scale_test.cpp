// Run in a Wine prefix of its own whose system DPI is 144 (150 %): the real
// main window, its dialogs and kesta.exe itself at that scale, and a DPI
// change sent as Windows sends it when the window moves to another monitor.
#include <doctest/doctest.h>
#include "../window/harness.h"
#include "kesta_process.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/dpi.h"
#include "ui/main/history.h"
#include "ui/main/layout.h"
#include <richedit.h>
#include <cmath>
#include <string>

namespace {
const int screenDpi = 144;

LONG width(const RECT& r) { return r.right - r.left; }
LONG height(const RECT& r) { return r.bottom - r.top; }

RECT placeOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A combo box with its list dropped down. Wine's CB_GETDROPPEDCONTROLRECT
// starts at the box's top but is only as high as the list part (Windows:
// down to the list's bottom), so the box's own height is added.
LONG droppedHeight(HWND combo) {
    RECT dropped{}, box{};
    SendMessageW(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    GetWindowRect(combo, &box);
    return height(dropped) + height(box);
}

int fontHeight(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return -font.lfHeight;
}

bool isClass(HWND control, const wchar_t* name) { return _wcsicmp(classOf(control).c_str(), name) == 0; }


// The 96-DPI rectangle of row i for a client size that need not
// be whole pixels: the table is affine in the client size.
double at96(int i, int field, double W, double H) {
    auto at = [i, field](int w, int h) {
        ControlRect r = layoutForClientSize(w, h, 96)[static_cast<size_t>(i)];
        const int values[] = {r.left, r.top, r.width, r.height};
        return values[field];
    };
    double base = at(1000, 600);
    return base + (W - 1000) * (at(1001, 600) - base) + (H - 600) * (at(1000, 601) - base);
}

// Every control of the main window at dpi / 96 times its 96-DPI place,
// its font 15 pixels scaled; combo boxes by their dropped-down rectangle,
// the list box trimmed to whole rows.
void checkMainWindowAt(Harness& h, int dpi) {
    const double f = dpi / 96.0;
    RECT client{};
    GetClientRect(h.window, &client);
    for (int i = 0; i < mainControlCount; ++i) {
        CAPTURE(i);
        HWND c = controlHandle(h.state, i);
        RECT r = placeOf(c);
        LONG shownHeight = height(r);
        if (isClass(c, L"ComboBox")) shownHeight = droppedHeight(c);
        const LONG got[] = {r.left, r.top, width(r), shownHeight};
        for (int field = 0; field < 4; ++field) {
            CAPTURE(field);
            double wanted = at96(i, field, client.right / f, client.bottom / f) * f;
            if (field == 3 && isClass(c, L"LISTBOX")) {
                LRESULT row = SendMessageW(c, LB_GETITEMHEIGHT, 0, 0);
                CHECK(got[field] <= wanted + 1);
                CHECK(got[field] > wanted - row - 1);
            } else {
                CHECK(std::abs(got[field] - wanted) <= 1.0);
            }
        }
        if (!isClass(c, L"RICHEDIT50W")) CHECK(std::abs(fontHeight(c) - 15 * f) <= 0.5);
    }
    // Never more than the work area (1600 wide here, below 1100 at 150 %).
    MINMAXINFO info{};
    SendMessageW(h.window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    RECT work = workAreaOf(h.window);
    CHECK(std::abs(info.ptMinTrackSize.x - std::min(1100 * f, double(width(work)))) <= 0.5);
    CHECK(std::abs(info.ptMinTrackSize.y - std::min(650 * f, double(height(work)))) <= 0.5);
}

void changeDpi(Harness& h, int dpi, RECT suggested) {
    SendMessageW(h.window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

CHARFORMAT2W charFormat(HWND view, DWORD which) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(view, EM_GETCHARFORMAT, which, reinterpret_cast<LPARAM>(&format));
    return format;
}

bool transcriptAtEnd(HWND view) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(view, SB_VERT, &info);
    return info.nPos + static_cast<int>(info.nPage) >= info.nMax;
}

struct DialogRow {
    int x, y, w, h;
};
struct DialogCase {
    const wchar_t* className;
    int width, height;
    std::vector<DialogRow> controls;  // in creation order
    void (*open)(MainWindowState&);
};

// Each dialog opened at its owner's DPI: the window the 96-DPI client area
// scaled plus the frame at that DPI, centred on the owner's monitor, every
// control and the font scaled.
void checkDialogsAt(Harness& h, int dpi) {
    const DialogCase dialogs[] = {
        {L"KestaForwardMessage", 540, 270,
         {{18, 18, 480, 24}, {18, 50, 480, 250}, {18, 95, 480, 64}, {270, 175, 100, 30}, {380, 175, 118, 30}},
         [](MainWindowState& s) {
             openForwardDialog(s, L"1", R"([{"id":"r1","title":"Общий","canWrite":true}])");
         }},
        {L"KestaDeleteMessage", 530, 260,
         {{18, 18, 470, 75}, {18, 103, 470, 45}, {270, 167, 100, 30}, {380, 167, 110, 30}},
         [](MainWindowState& s) { confirmDeletion(s, MessageActions{}); }},
        {L"KestaNewWork", 500, 365,
         {{18, 15, 420, 20}, {18, 38, 440, 27}, {18, 76, 440, 20}, {18, 100, 440, 120}, {18, 235, 440, 20},
          {18, 235, 440, 200}, {350, 280, 108, 30}},
         [](MainWindowState& s) {
             s.mode = 1;
             openNewWorkDialog(s, false);
         }},
    };
    const double f = dpi / 96.0;
    const DWORD style = WS_CAPTION | WS_SYSMENU, exStyle = WS_EX_DLGMODALFRAME;
    SIZE frame96 = frameSizeForDpi(style, exStyle, 96), frame = frameSizeForDpi(style, exStyle, dpi);
    RECT work = workAreaOf(h.window);
    for (const DialogCase& d : dialogs) {
        CAPTURE(std::string(d.className, d.className + wcslen(d.className)));
        bool seen = false;
        HFONT ownFont = nullptr;
        whenDialogOpens(d.className, [&](HWND dialog) {
            seen = true;
            RECT outer{}, client{};
            GetWindowRect(dialog, &outer);
            GetClientRect(dialog, &client);
            CHECK(std::abs(width(outer) - ((d.width - frame96.cx) * f + frame.cx)) <= 1.0);
            CHECK(std::abs(height(outer) - ((d.height - frame96.cy) * f + frame.cy)) <= 1.0);
            if (dpi == 96) CHECK((width(outer) == d.width && height(outer) == d.height));
            if (dpi == screenDpi) {
                // Only here is Wine's frame that of the DPI asked for.
                CHECK(width(outer) - client.right == frame.cx);
                CHECK(height(outer) - client.bottom == frame.cy);
            }
            CHECK(std::abs((outer.left + outer.right) - (work.left + work.right)) <= 1);
            CHECK(std::abs((outer.top + outer.bottom) - (work.top + work.bottom)) <= 1);
            auto controlsAt = [&](double scale) {
                size_t i = 0;
                for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT), ++i) {
                    CAPTURE(i);
                    REQUIRE(i < d.controls.size());
                    const DialogRow& row = d.controls[i];
                    RECT r = placeOf(c);
                    if (isClass(c, L"ComboBox")) r.bottom = r.top + droppedHeight(c);
                    CHECK(std::abs(r.left - row.x * scale) <= 1.0);
                    CHECK(std::abs(r.top - row.y * scale) <= 1.0);
                    CHECK(std::abs(width(r) - row.w * scale) <= 1.0);
                    CHECK(std::abs(height(r) - row.h * scale) <= 1.0);
                    if (scale == f && dpi == screenDpi && !isClass(c, L"ComboBox")) CHECK(r.bottom <= client.bottom);
                    CHECK(std::abs(fontHeight(c) - 15 * scale) <= 0.5);
                }
                CHECK(i == d.controls.size());
            };
            controlsAt(f);
            // Moved to a monitor of 125 % while open: a font of its own, the
            // controls at that scale, the suggested rectangle.
            const RECT suggested{100, 80, 100 + (d.width - frame96.cx) * 120 / 96 + frame.cx,
                                 80 + (d.height - frame96.cy) * 120 / 96 + frame.cy};
            SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
            GetWindowRect(dialog, &outer);
            CHECK(EqualRect(&outer, &suggested));
            controlsAt(120 / 96.0);
            ownFont = reinterpret_cast<HFONT>(SendMessageW(GetWindow(dialog, GW_CHILD), WM_GETFONT, 0, 0));
            CHECK(ownFont != h.state.uiFont);
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        });
        d.open(h.state);
        CHECK(seen);
        // Gone with the dialog; the owner's font stays.
        CHECK(GetObjectType(ownFont) == 0);
        CHECK(GetObjectType(h.state.uiFont) == OBJ_FONT);
    }
}
}  // namespace

TEST_CASE("at 144 DPI the main window, its minimum size, its font and its first size are the 96-DPI ones scaled") {
    HDC screen = GetDC(nullptr);
    REQUIRE(GetDeviceCaps(screen, LOGPIXELSY) == screenDpi);  // the prefix of this test
    ReleaseDC(nullptr, screen);
    Harness h;
    CHECK(h.state.dpi == screenDpi);
    checkMainWindowAt(h, screenDpi);
    CHARFORMAT2W format = charFormat(h.state.transcriptView, SCF_DEFAULT);
    CHECK(std::abs(format.yHeight * screenDpi / 1440.0 - 22.5) <= 1.0);
    // 1920 x 1230 does not fit a 1600 x 1000 screen: cut to the work area,
    // also below the minimum of 1650 x 975, which is larger than the screen.
    RECT work = workAreaOf(h.window), outer{};
    GetWindowRect(h.window, &outer);
    CHECK(width(outer) == std::min(1920L, width(work)));
    CHECK(height(outer) == std::min(1230L, height(work)));
    CHECK(outer.left >= work.left);
    CHECK(outer.top >= work.top);
}

TEST_CASE("WM_DPICHANGED: the suggested rectangle, the new font everywhere, the old one deleted, the reading place kept") {
    Harness h;
    MainWindowState& s = h.state;
    std::wstring text;
    for (int i = 0; i < 300; ++i) text += L"строка " + std::to_wstring(i) + L"\r\n";
    setTranscriptText(s, text.c_str());
    HWND view = s.transcriptView;
    SendMessageW(view, EM_LINESCROLL, 0, 100);
    LRESULT topCharacter = SendMessageW(view, EM_LINEINDEX, SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    REQUIRE(topCharacter > 0);
    SetWindowTextW(s.composerEdit, L"черновик");
    LONG before = charFormat(view, SCF_DEFAULT).yHeight;
    HFONT old = s.uiFont;

    // To a 125 % monitor.
    const RECT suggested{40, 30, 1440, 930};
    changeDpi(h, 120, suggested);
    RECT outer{};
    GetWindowRect(h.window, &outer);
    CHECK(EqualRect(&outer, &suggested));
    CHECK(s.dpi == 120);
    CHECK(GetObjectType(old) == 0);
    checkMainWindowAt(h, 120);
    CHECK(SendMessageW(view, EM_EXLINEFROMCHAR, 0, topCharacter) == SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0));
    CHECK(textOf(s.composerEdit) == L"черновик");
    // The text shown takes the new size too, not only text still to come.
    SendMessageW(view, EM_SETSEL, 0, -1);
    LONG all = charFormat(view, SCF_SELECTION).yHeight;
    SendMessageW(view, EM_SETSEL, 0, 0);
    CHECK(all == charFormat(view, SCF_DEFAULT).yHeight);
    CHECK(std::abs(all - before * 18.75 / 22.5) <= 15);  // twips: a pixel is 10 at 144 DPI

    // Asked for its size at another DPI, the window gives its client area
    // exactly scaled, plus that DPI's frame.
    RECT client{};
    GetClientRect(h.window, &client);
    SIZE size{width(outer), height(outer)};
    REQUIRE(SendMessageW(h.window, WM_GETDPISCALEDSIZE, 192, reinterpret_cast<LPARAM>(&size)) == TRUE);
    SIZE frame = frameSizeForDpi(WS_OVERLAPPEDWINDOW, 0, 192);
    CHECK(size.cx == client.right * 192 / 120 + frame.cx);
    CHECK(size.cy == client.bottom * 192 / 120 + frame.cy);

    // Back to 150 %, reading at the end: still at the end.
    SendMessageW(view, WM_VSCROLL, SB_BOTTOM, 0);
    REQUIRE(transcriptAtEnd(view));
    changeDpi(h, screenDpi, RECT{0, 0, 1650, 1000});
    CHECK(transcriptAtEnd(view));
    checkMainWindowAt(h, screenDpi);

    SUBCASE("minimised, nothing is laid out until the window is restored, at the new DPI and scaled size") {
        // Shown at a size that fits the screen, so that the place to restore
        // is the one it has.
        ShowWindow(h.window, SW_SHOWNOACTIVATE);
        SetWindowPos(h.window, nullptr, 0, 10, 1600, 980, SWP_NOZORDER | SWP_NOACTIVATE);
        RECT normal{};
        GetWindowRect(h.window, &normal);
        GetClientRect(h.window, &client);
        ShowWindow(h.window, SW_MINIMIZE);
        RECT before = placeOf(s.sendButton);
        // The suggestion may be the icon's place; the restored place is kept.
        changeDpi(h, 120, RECT{-32000, -32000, -31840, -31972});
        CHECK(s.dpi == 120);
        RECT still = placeOf(s.sendButton);
        CHECK(EqualRect(&before, &still));
        ShowWindow(h.window, SW_RESTORE);
        GetWindowRect(h.window, &outer);
        SIZE frame120 = frameSizeForDpi(WS_OVERLAPPEDWINDOW, 0, 120);
        CHECK(outer.left == normal.left);
        CHECK(outer.top == normal.top);
        // The width scaled is below the minimum at 125 % (1375) on this screen.
        CHECK(width(outer) == std::max(MulDiv(client.right, 120, screenDpi) + frame120.cx, 1375L));
        CHECK(height(outer) == MulDiv(client.bottom, 120, screenDpi) + frame120.cy);
        checkMainWindowAt(h, 120);
        ShowWindow(h.window, SW_HIDE);
    }
    SUBCASE("a dialog open meanwhile keeps its font until it closes") {
        HFONT dialogFont = nullptr;
        whenDialogOpens(L"KestaDeleteMessage", [&](HWND dialog) {
            dialogFont = reinterpret_cast<HFONT>(SendMessageW(GetWindow(dialog, GW_CHILD), WM_GETFONT, 0, 0));
            changeDpi(h, 120, suggested);
            CHECK(GetObjectType(dialogFont) == OBJ_FONT);
            CHECK(reinterpret_cast<HFONT>(SendMessageW(GetWindow(dialog, GW_CHILD), WM_GETFONT, 0, 0)) == dialogFont);
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        });
        confirmDeletion(s, MessageActions{});
        REQUIRE(dialogFont);
        CHECK(dialogFont != s.uiFont);
        CHECK(GetObjectType(dialogFont) == 0);
        CHECK(GetObjectType(s.uiFont) == OBJ_FONT);
    }
}

TEST_CASE("the three dialogs open at their owner's DPI, centred on its monitor: 144, 96 and 192") {
    Harness h;
    checkDialogsAt(h, screenDpi);
    changeDpi(h, 96, RECT{0, 0, 1280, 820});
    checkDialogsAt(h, 96);
    changeDpi(h, 192, RECT{0, 0, 1600, 1000});
    checkDialogsAt(h, 192);
}

TEST_CASE("kesta.exe itself starts at 144 DPI: its controls and the font of its lists are scaled") {
    KestaChild child;
    EndKestaOnExit ending{child};
    HWND window = startKestaWindow(child, {L"--server", L"http://127.0.0.1:9"});
    REQUIRE(window);
    RECT client{};
    GetClientRect(window, &client);
    RECT send = placeOf(GetDlgItem(window, 105));
    CHECK(std::abs(send.left - (client.right - 172.5)) <= 1.0);
    CHECK(std::abs(send.top - (client.bottom - 154.5)) <= 1.0);
    CHECK(width(send) == 150);
    CHECK(height(send) == 84);
    // A font handle belongs to its process; a list's item height follows it.
    HWND probe = CreateWindowExW(0, L"ComboBox", L"", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 100, 100, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    HFONT font = createUiFont(screenDpi);
    SendMessageW(probe, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    CHECK(SendMessageW(GetDlgItem(window, 104), CB_GETITEMHEIGHT, 0, 0) == SendMessageW(probe, CB_GETITEMHEIGHT, 0, 0));
    DestroyWindow(probe);
    DeleteObject(font);
}
