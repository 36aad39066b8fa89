#include <doctest/doctest.h>
#include "harness.h"
#include "ui/main/layout.h"
#include <algorithm>
#include <string>
#include <vector>

namespace {
// What the screen shows of a rectangle (screen coordinates), as 0x00RRGGBB.
struct Shot {
    RECT area{};
    std::vector<DWORD> pixels;
    DWORD at(int x, int y) const {
        return pixels[static_cast<size_t>(y - area.top) * (area.right - area.left) + (x - area.left)] & 0xFFFFFF;
    }
};

Shot screenShot(RECT area) {
    Shot shot;
    shot.area = area;
    int w = area.right - area.left, h = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    BITMAPINFOHEADER bi{sizeof bi, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    shot.pixels.resize(static_cast<size_t>(w) * h);
    GetDIBits(dc, bitmap, 0, h, shot.pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return shot;
}

// The window's own message loop for a while: painting happens only here, as
// it does for the operator, never forced by the test.
void runLoopFor(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        pumpMessages();
        Sleep(20);
    }
}

RECT screenRectOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    return r;
}

// Share of the pixels of a row or column of the shot that are not the background.
double drawnShare(const Shot& shot, int x0, int y0, int dx, int dy, int count, DWORD background) {
    int drawn = 0;
    for (int i = 0; i < count; ++i)
        if (shot.at(x0 + dx * i, y0 + dy * i) != background) ++drawn;
    return count ? static_cast<double>(drawn) / count : 1.0;
}
}  // namespace

TEST_CASE("after every resize each button is drawn whole: default, minimum, large and back") {
    Harness h;
    DWORD background = GetSysColor(COLOR_WINDOW);
    background = ((background & 0xFF) << 16) | (background & 0xFF00) | ((background >> 16) & 0xFF);
    struct Size { const char* name; int width, height; };
    const Size sizes[] = {{"minimum", 1100, 650}, {"large", 1520, 990}, {"default", 1280, 820},
                          {"large", 1520, 990}, {"minimum", 1100, 650}, {"default", 1280, 820}};
    SetWindowPos(h.window, HWND_TOPMOST, 0, 0, 1280, 820, SWP_SHOWWINDOW);
    runLoopFor(500);
    for (const Size& size : sizes) {
        SetWindowPos(h.window, HWND_TOPMOST, 0, 0, size.width, size.height, SWP_NOACTIVATE);
        runLoopFor(700);
        Shot shot = screenShot(screenRectOf(h.window));
        for (int i = 0; i < mainControlCount; ++i) {
            HWND button = controlHandle(h.state, i);
            if (std::wstring(mainControls[i].className) != L"BUTTON" || !IsWindowVisible(button)) continue;
            RECT r = screenRectOf(button);
            int w = r.right - r.left, hgt = r.bottom - r.top;
            // Each side of the frame, inside the corners.
            double least = std::min(std::min(drawnShare(shot, r.left + 2, r.top, 1, 0, w - 4, background),
                                             drawnShare(shot, r.left + 2, r.bottom - 1, 1, 0, w - 4, background)),
                                    std::min(drawnShare(shot, r.left, r.top + 2, 0, 1, hgt - 4, background),
                                             drawnShare(shot, r.right - 1, r.top + 2, 0, 1, hgt - 4, background)));
            CHECK_MESSAGE(least > 0.9, size.name << " size, control " << i << " drawn " << least);
        }
    }
}
