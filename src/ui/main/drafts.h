// Drafts: what the operator had typed for a conversation they left (another
// row, tab or organisation), kept in memory for the sign-in and put back
// when they open it again. A draft is taken out of the store when its
// conversation opens; the composer is then the draft, so sending or emptying
// it ends it. Never written anywhere; wiped when forgotten.
#pragma once
#include "net/jobs.h"
#include "ui/main/state.h"

// Called before a view change, while the conversation left is still the
// window's: keeps its composer text (in edit mode the draft set aside when
// the edit began) and, in reply mode, the message replied to.
void keepDraft(MainWindowState& state);

// Called once the conversation to open is the window's (selectedId set):
// its draft, if any, goes back into the composer; reply mode comes back with
// the first page that shows its message (applyDraftReply).
void openDraft(MainWindowState& state);

// After a page was applied: the reply mode a draft brought comes back when
// its message is on the newest page and may still be replied to.
void applyDraftReply(MainWindowState& state);

// A send that succeeded while its conversation was no longer shown ends its
// text everywhere: the draft it left behind, and the composer (with reply
// mode) when that conversation is open again and still holds the text sent.
void endSentDraft(MainWindowState& state, const NetJob& sent);

// A send or edit that did not go (it failed, or was dropped while it
// waited): its text goes back to its conversation, into the composer when
// that conversation is open, else into its draft, after a blank line when
// the draft or composer holds other text.
void returnUnsentText(MainWindowState& state, const NetJob& job);

// Sign-out: every draft is wiped and forgotten.
void forgetDrafts(MainWindowState& state);
