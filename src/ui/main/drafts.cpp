#include "ui/main/drafts.h"
#include "ui/dialogs/actions.h"
#include "ui/main/composer.h"
#include "text/secret.h"

namespace {

bool sameConversation(const Draft& d, const std::wstring& orgId, int32_t mode, const std::wstring& itemId) {
    return d.orgId == orgId && d.mode == mode && d.itemId == itemId;
}

// A customer's personal data may be in it: wiped before it goes.
void wipeDraft(Draft& d) {
    wipeSecret(d.text);
    d.text.clear();
}

// The last draft takes the place of the one that goes: copied, not moved,
// so that every buffer that held a text is wiped before it is freed.
void dropDraft(MainWindowState& s, size_t at) {
    Draft& last = s.drafts.back();
    wipeDraft(s.drafts[at]);
    if (&last != &s.drafts[at]) {
        s.drafts[at] = last;
        wipeDraft(last);
    }
    s.drafts.pop_back();
}

// Takes `d` into the store and wipes it. Growing the store copies the drafts
// over and wipes the old ones, for the same reason.
void addDraft(MainWindowState& s, Draft& d) {
    if (s.drafts.size() == s.drafts.capacity()) {
        std::vector<Draft> grown;
        grown.reserve(s.drafts.size() * 2 + 4);
        for (Draft& kept : s.drafts) {
            grown.push_back(kept);
            wipeDraft(kept);
        }
        s.drafts.swap(grown);
    }
    s.drafts.push_back(d);
    wipeDraft(d);
}

int findDraft(const MainWindowState& s, const std::wstring& orgId, int32_t mode, const std::wstring& itemId) {
    for (size_t i = 0; i < s.drafts.size(); ++i)
        if (sameConversation(s.drafts[i], orgId, mode, itemId)) return static_cast<int>(i);
    return -1;
}

int draftOf(const MainWindowState& s, const NetJob& job) {
    return findDraft(s, job.params[Slot::orgId], job.mode, job.params[Slot::itemId]);
}

// The conversation the job was given in is the one open now.
bool showsConversationOf(const MainWindowState& s, const NetJob& job) {
    return !s.selectedId.empty() && s.orgId == job.params[Slot::orgId] && s.mode == job.mode &&
           s.selectedId == job.params[Slot::itemId];
}

// `text` joins what is there: as it is when there is nothing, not at all when
// it is in there already, else after a blank line.
void joinText(std::wstring& into, const std::wstring& text) {
    if (into.find(text) != std::wstring::npos) return;
    if (!into.empty()) into += L"\r\n\r\n";
    into += text;
}

}  // namespace

void keepDraft(MainWindowState& s) {
    // Reply mode the draft brought and its page has not shown yet stays with it.
    std::wstring replyTo = s.replyToId.empty() ? s.draftReplyTo : s.replyToId;
    s.draftReplyTo.clear();
    if (s.orgId.empty() || s.selectedId.empty()) return;
    int at = findDraft(s, s.orgId, s.mode, s.selectedId);
    if (at >= 0) dropDraft(s, static_cast<size_t>(at));
    Draft d;
    d.text = s.editId.empty() ? composerText(s) : s.savedText;
    if (d.text.empty()) return;
    d.orgId = s.orgId;
    d.mode = s.mode;
    d.itemId = s.selectedId;
    d.replyToId = std::move(replyTo);
    addDraft(s, d);
}

void openDraft(MainWindowState& s) {
    s.draftReplyTo.clear();
    int at = findDraft(s, s.orgId, s.mode, s.selectedId);
    if (at < 0) return;
    Draft& d = s.drafts[static_cast<size_t>(at)];
    SetWindowTextW(s.composerEdit, d.text.c_str());
    s.draftReplyTo = d.replyToId;
    dropDraft(s, static_cast<size_t>(at));
}

void applyDraftReply(MainWindowState& s) {
    if (s.draftReplyTo.empty()) return;
    std::wstring id;
    id.swap(s.draftReplyTo);
    if (!s.beforeCursor.empty() || !s.searchText.empty() || !s.editId.empty() || !s.replyToId.empty()) return;
    for (const MessageActions& m : s.actions)
        if (m.id == id && m.canReply) {
            enterReplyMode(s, m);
            return;
        }
}

void endSentDraft(MainWindowState& s, const NetJob& sent) {
    const std::wstring& text = sent.params[Slot::text];
    int at = draftOf(s, sent);
    if (at >= 0 && s.drafts[static_cast<size_t>(at)].text == text) dropDraft(s, static_cast<size_t>(at));
    // Opened again before the reply came: the composer holds the draft.
    if (!showsConversationOf(s, sent)) return;
    const std::wstring& repliedTo = sent.params[Slot::messageId];
    if (!repliedTo.empty() && s.draftReplyTo == repliedTo) s.draftReplyTo.clear();
    if (s.editId.empty() && composerText(s) == text) {
        SetWindowTextW(s.composerEdit, L"");
        if (!repliedTo.empty() && s.replyToId == repliedTo) leaveComposerMode(s, false);
    }
}

void returnUnsentText(MainWindowState& s, const NetJob& job) {
    if (job.kind != NetJobKind::SendMessage && job.kind != NetJobKind::EditMessage) return;
    const std::wstring& text = job.params[Slot::text];
    if (text.empty() || job.params[Slot::itemId].empty()) return;
    if (showsConversationOf(s, job)) {
        std::wstring shown = composerText(s);
        std::wstring joined = shown;
        joinText(joined, text);
        if (joined != shown) SetWindowTextW(s.composerEdit, joined.c_str());
        wipeSecret(shown);
        wipeSecret(joined);
        return;
    }
    int at = draftOf(s, job);
    if (at >= 0) {
        joinText(s.drafts[static_cast<size_t>(at)].text, text);
        return;
    }
    Draft d;
    d.orgId = job.params[Slot::orgId];
    d.mode = job.mode;
    d.itemId = job.params[Slot::itemId];
    d.text = text;
    if (job.kind == NetJobKind::SendMessage) d.replyToId = job.params[Slot::messageId];
    addDraft(s, d);
}

void forgetDrafts(MainWindowState& s) {
    for (Draft& d : s.drafts) wipeDraft(d);
    s.drafts.clear();
    s.draftReplyTo.clear();
}
