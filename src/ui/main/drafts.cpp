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

void dropDraft(MainWindowState& s, size_t at) {
    wipeDraft(s.drafts[at]);
    s.drafts.erase(s.drafts.begin() + static_cast<ptrdiff_t>(at));
}

int findDraft(const MainWindowState& s, const std::wstring& orgId, int32_t mode, const std::wstring& itemId) {
    for (size_t i = 0; i < s.drafts.size(); ++i)
        if (sameConversation(s.drafts[i], orgId, mode, itemId)) return static_cast<int>(i);
    return -1;
}

}  // namespace

void keepDraft(MainWindowState& s) {
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
    d.replyToId = s.replyToId;
    s.drafts.push_back(std::move(d));
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
    int at = findDraft(s, sent.params[Slot::orgId], sent.mode, sent.params[Slot::itemId]);
    if (at >= 0 && s.drafts[static_cast<size_t>(at)].text == sent.params[Slot::text])
        dropDraft(s, static_cast<size_t>(at));
}

void forgetDrafts(MainWindowState& s) {
    for (Draft& d : s.drafts) wipeDraft(d);
    s.drafts.clear();
    s.draftReplyTo.clear();
}
