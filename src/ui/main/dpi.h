// The display scale. Every size the program names is a value at 96 DPI and is
// used at the DPI of the window it belongs to; the functions of Windows 10
// that tell a window's DPI are looked up at run time, so the program still
// starts where they are missing. Also where the main window first appears,
// where a dialog opens, and the one font at a given DPI.
#pragma once
#include <windows.h>

struct MainWindowState;

// Sent by Windows 10 1703 and later only; the program is built for Windows 7.
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

const int baseDpi = 96;

// MulDiv(value, dpi, 96).
int scaleToDpi(int value, int dpi);

// A 96-DPI value at the main window's DPI.
int scaled(const MainWindowState& state, int value);

// GetDpiForWindow, or the system DPI where that function is missing.
int dpiForWindow(HWND window);

// What the frame and caption of a window of this style add to its client
// size at a DPI (AdjustWindowRectExForDpi, or the system's frame scaled).
SIZE frameSizeForDpi(DWORD style, DWORD exStyle, int dpi);

// The work area of the monitor that shows most of the window.
RECT workAreaOf(HWND window);

// The one font of the program ("Segoe UI", 15 pixels at 96 DPI) at a DPI.
HFONT createUiFont(int dpi);

// The main window's minimum size: 1100 x 650 at 96 DPI scaled, but never
// more than the work area, so that on a small screen at a large scale the
// whole window, status line included, still fits above the taskbar.
SIZE minimumWindowSize(int dpi, RECT work);

// The main window's size at another DPI (WM_GETDPISCALEDSIZE): its client
// area scaled exactly, as the layout is, plus the frame at that DPI.
SIZE dpiScaledWindowSize(SIZE client, int fromDpi, int toDpi, SIZE frameAtNewDpi);

// Where the main window first appears: as placed by the system, its size the
// wanted one cut to the work area (the taskbar stays clear of the status
// line), but never below the minimum (which minimumWindowSize keeps within
// the work area); moved into the work area.
RECT firstWindowRect(RECT placed, SIZE wanted, SIZE minimum, RECT work);

// A dialog's window: its client area the 96-DPI one (the 96-DPI window size
// less the 96-DPI frame) scaled, plus the frame at the DPI; centred in
// the work area of the owner's monitor, its top left kept inside it.
RECT dialogWindowRect(SIZE at96, SIZE frameAt96, SIZE frameAtDpi, int dpi, RECT work);

// The window moved to a monitor of another scale (WM_DPICHANGED): the font
// for the new DPI given to every control, the transcript's text included,
// the window moved to the suggested rectangle and laid out again; the
// transcript keeps its reading place. Minimised, nothing is laid out: the
// restored size is scaled, and the restore lays the window out.
void applyDpiChange(MainWindowState& state, int dpi, const RECT& suggested);

// Deletes a font that is no longer the current one once no window of this
// thread uses it; a dialog still open with it keeps it until it closes.
void retireFont(HFONT font, HFONT current);
