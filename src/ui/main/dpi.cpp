#include "ui/main/dpi.h"
#include "ui/main/layout.h"
#include "ui/main/state.h"
#include <richedit.h>

namespace {
// Windows 10 1607 and later only: taken from user32 when there, so that the
// program still loads on older systems.
template <class Function>
Function user32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

using DpiForWindow = UINT(WINAPI*)(HWND);
using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// The DPI the system had when the user signed in; it stays for the process.
int systemDpi() {
    static const int dpi = [] {
        HDC screen = GetDC(nullptr);
        int d = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
        if (screen) ReleaseDC(nullptr, screen);
        return d > 0 ? d : baseDpi;
    }();
    return dpi;
}

LONG fitted(LONG wanted, LONG room, LONG least) {
    LONG size = wanted < room ? wanted : room;
    return size > least ? size : least;
}

// The near edge kept inside [from, to) where the size allows, else at from.
LONG placedWithin(LONG at, LONG size, LONG from, LONG to) {
    if (at + size > to) at = to - size;
    return at < from ? from : at;
}

// The rich edit keeps a character format per run of text: the font it is
// given becomes only its default, and text already shown would keep the old
// size. The default, as the control made it from the font, goes to all text.
void followFont(HWND richEdit) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(richEdit, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET;
    SendMessageW(richEdit, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
}

// The transcript's reading place across a change of font: the character at
// the start of the top line, or the end when the newest line was in view.
struct ReadingLine {
    LRESULT firstCharacter;
    bool atEnd;
};

ReadingLine readingLine(HWND view) {
    LRESULT line = SendMessageW(view, EM_GETFIRSTVISIBLELINE, 0, 0);
    ReadingLine place{SendMessageW(view, EM_LINEINDEX, static_cast<WPARAM>(line), 0), true};
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    // No scroll range: everything is in view, which counts as the end. At
    // the end Windows has nPos + nPage = nMax + 1, Wine one less.
    if (GetScrollInfo(view, SB_VERT, &info) && info.nPage > 0 && info.nMax >= static_cast<int>(info.nPage))
        place.atEnd = info.nPos + static_cast<int>(info.nPage) >= info.nMax;
    return place;
}

void keepReadingLine(HWND view, const ReadingLine& place) {
    if (place.atEnd) {
        SendMessageW(view, WM_VSCROLL, SB_BOTTOM, 0);
        return;
    }
    // By pixels: a scroll by lines counts them at the default line height.
    POINTL at{};
    SendMessageW(view, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), place.firstCharacter);
    if (at.y == 0) return;
    POINT scroll{};
    SendMessageW(view, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    scroll.y += at.y;
    SendMessageW(view, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
}

// A minimised window's restored place at another DPI: where it was, its
// client area scaled (as WM_GETDPISCALEDSIZE answers). The suggestion that
// comes with the change is not used: for a minimised window it may be the
// icon's place.
void scaleRestoredPlace(HWND window, int fromDpi, int toDpi) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement)) return;
    DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    DWORD exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    RECT& normal = placement.rcNormalPosition;
    SIZE frameFrom = frameSizeForDpi(style, exStyle, fromDpi);
    SIZE client{normal.right - normal.left - frameFrom.cx, normal.bottom - normal.top - frameFrom.cy};
    SIZE size = dpiScaledWindowSize(client, fromDpi, toDpi, frameSizeForDpi(style, exStyle, toDpi));
    normal.right = normal.left + size.cx;
    normal.bottom = normal.top + size.cy;
    // Left as it is: minimised, and shown or not.
    placement.showCmd = IsWindowVisible(window) ? SW_SHOWMINNOACTIVE : SW_HIDE;
    placement.flags = 0;
    SetWindowPlacement(window, &placement);
}

struct FontSearch {
    HFONT font;
    bool found;
};

BOOL CALLBACK usesFont(HWND window, LPARAM search) {
    auto* s = reinterpret_cast<FontSearch*>(search);
    if (reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)) == s->font) s->found = true;
    return !s->found;
}

BOOL CALLBACK windowUsesFont(HWND window, LPARAM search) {
    if (usesFont(window, search)) EnumChildWindows(window, usesFont, search);
    return !reinterpret_cast<FontSearch*>(search)->found;
}
}  // namespace

int scaleToDpi(int value, int dpi) { return MulDiv(value, dpi, baseDpi); }

int scaled(const MainWindowState& s, int value) { return scaleToDpi(value, s.dpi); }

int dpiForWindow(HWND window) {
    static const DpiForWindow forWindow = user32Function<DpiForWindow>("GetDpiForWindow");
    if (forWindow && window) {
        UINT dpi = forWindow(window);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return systemDpi();
}

SIZE frameSizeForDpi(DWORD style, DWORD exStyle, int dpi) {
    static const AdjustForDpi adjust = user32Function<AdjustForDpi>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, 0, 0};
    if (adjust && adjust(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        return {frame.right - frame.left, frame.bottom - frame.top};
    // Before Windows 10 1607 the frame is drawn at the system DPI.
    frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    return {MulDiv(frame.right - frame.left, dpi, systemDpi()), MulDiv(frame.bottom - frame.top, dpi, systemDpi())};
}

RECT workAreaOf(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (monitor && GetMonitorInfoW(monitor, &info)) return info.rcWork;
    RECT work{0, 0, 0, 0};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

HFONT createUiFont(int dpi) {
    return CreateFontW(-scaleToDpi(15, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
}

SIZE minimumWindowSize(int dpi, RECT work) {
    LONG width = scaleToDpi(1100, dpi), height = scaleToDpi(650, dpi);
    LONG roomX = work.right - work.left, roomY = work.bottom - work.top;
    // A work area not known (no monitor) limits nothing.
    if (roomX > 0 && roomX < width) width = roomX;
    if (roomY > 0 && roomY < height) height = roomY;
    return {width, height};
}

SIZE dpiScaledWindowSize(SIZE client, int fromDpi, int toDpi, SIZE frameAtNewDpi) {
    if (fromDpi <= 0) fromDpi = baseDpi;
    return {MulDiv(client.cx, toDpi, fromDpi) + frameAtNewDpi.cx, MulDiv(client.cy, toDpi, fromDpi) + frameAtNewDpi.cy};
}

RECT firstWindowRect(RECT placed, SIZE wanted, SIZE minimum, RECT work) {
    LONG width = fitted(wanted.cx, work.right - work.left, minimum.cx);
    LONG height = fitted(wanted.cy, work.bottom - work.top, minimum.cy);
    LONG left = placedWithin(placed.left, width, work.left, work.right);
    LONG top = placedWithin(placed.top, height, work.top, work.bottom);
    return {left, top, left + width, top + height};
}

RECT dialogWindowRect(SIZE at96, SIZE frameAt96, SIZE frameAtDpi, int dpi, RECT work) {
    LONG width = scaleToDpi(at96.cx - frameAt96.cx, dpi) + frameAtDpi.cx;
    LONG height = scaleToDpi(at96.cy - frameAt96.cy, dpi) + frameAtDpi.cy;
    LONG left = work.left + (work.right - work.left - width) / 2;
    LONG top = work.top + (work.bottom - work.top - height) / 2;
    if (left < work.left) left = work.left;
    if (top < work.top) top = work.top;
    return {left, top, left + width, top + height};
}

void retireFont(HFONT font, HFONT current) {
    if (!font || font == current) return;
    FontSearch search{font, false};
    EnumThreadWindows(GetCurrentThreadId(), windowUsesFont, reinterpret_cast<LPARAM>(&search));
    if (!search.found) DeleteObject(font);
}

void applyDpiChange(MainWindowState& s, int dpi, const RECT& suggested) {
    if (dpi <= 0) return;
    ReadingLine place = readingLine(s.transcriptView);
    int before = s.dpi;
    s.dpi = dpi;
    if (HFONT font = createUiFont(dpi)) {
        HFONT old = s.uiFont;
        s.uiFont = font;
        for (int i = 0; i < mainControlCount; ++i)
            SendMessageW(controlHandle(s, i), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        followFont(s.transcriptView);
        retireFont(old, font);
    }
    if (IsIconic(s.window)) {
        // Minimised, the client area is 0 x 0 and nothing is laid out; the
        // restore's WM_SIZE lays the window out at the new DPI.
        scaleRestoredPlace(s.window, before, dpi);
        keepReadingLine(s.transcriptView, place);
        return;
    }
    // The move sizes the window, whose WM_SIZE lays it out; a suggestion of
    // the same size sends none, so the layout runs here once more.
    SetWindowPos(s.window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    layoutMainWindow(s);
    keepReadingLine(s.transcriptView, place);
}
