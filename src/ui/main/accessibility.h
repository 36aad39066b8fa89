// What a screen reader is told beyond what the standard controls tell it by
// themselves: the status line as a polite live region, the composer's name
// in reply and edit mode, and a notice of new messages in the open
// conversation. The field names are the hidden labels of layout.h.
#pragma once
#include "ui/main/state.h"
#include <string>
#include <vector>

// Known to Windows 8 and later; older systems pass the event on to no one.
#ifndef EVENT_OBJECT_LIVEREGIONCHANGED
#define EVENT_OBJECT_LIVEREGIONCHANGED 0x8019
#endif

// Marks the status line as a polite live region through the system's
// annotation service (where it answers; Wine and old systems do not) and
// watches its text: each text that statusLineSpeaks lets through raises
// EVENT_OBJECT_LIVEREGIONCHANGED. Whoever sets the status line just sets
// its text.
void makeStatusLiveRegion(MainWindowState& state);

// Whether a new status text is worth hearing: not empty, not the exchange
// line a job start shows (each periodic refresh would speak it), and not the
// text last heard (`spoken`, which it then becomes). So a periodic refresh
// that ends on the line it began with says nothing.
bool statusLineSpeaks(std::wstring& spoken, const std::wstring& text);

// Takes the annotation off again before the window goes.
void forgetStatusLiveRegion(MainWindowState& state);

// The composer's label takes the name of the mode the state is in (replying
// to `replySender`, editing, or plain); a change is announced as one.
void nameComposer(MainWindowState& state, const std::wstring& replySender);

// What to say of a refreshed newest page: "Новое сообщение: " + sender for
// one message by someone else not shown before, "Новые сообщения: N" for
// more; empty for none.
std::wstring newMessagesNotice(const std::vector<std::wstring>& shownIds, const std::vector<MessageActions>& page,
                               const std::wstring& userName);

// Says `text` through a UI Automation notification raised on the control,
// where the system has them (Windows 10 1709 and later; looked up at run
// time, so that older systems still start). Tests replace it.
extern void (*announce)(HWND control, const std::wstring& text);
