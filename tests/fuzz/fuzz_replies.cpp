// Every other reply the program reads, each through the reader the window or
// the worker calls: the sign-in token, the profile with its memberships and
// the support lines, the rooms list and the two work lists, a work item with
// its staff, the forward targets, the room of a work item, a created id, and
// the text of a refusal. Two replies in one input, split at the first NUL
// byte, feed the readers that take two (profile and lines).
#include "fuzz_support.h"

#include "net/replies.h"
#include "text/errors.h"
#include "ui/dialogs/forward_targets.h"
#include "ui/main/panel.h"
#include "ui/main/sign_in_reply.h"
#include "ui/main/transcript.h"

#include <string>
#include <vector>

namespace {

bool visible(const std::wstring& text) { return text.find(L'\0') == std::wstring::npos; }

void readEverything(const std::string& reply) {
    // Readers handed the text itself parse it on their own.
    try {
        const std::vector<ListRow> targets = forwardTargets(reply);
        for (const ListRow& t : targets) FUZZ_CHECK(visible(t.label));
    } catch (const TransportFailure& failure) {
        FUZZ_CHECK(failure.category == "json");
    }
    try {
        const std::wstring text = refusalText(reply);
        (void)text;
    } catch (const UserMessage& message) {
        FUZZ_CHECK(message.text == refusedText);
    }

    JsonValue doc;
    if (!parseReply(reply, doc)) return;
    (void)signInToken(doc);
    (void)workItemRoom(doc);
    (void)createdId(doc);
    for (int mode = 0; mode < 3; ++mode) {
        std::vector<std::wstring> lines;
        const std::vector<ListRow> rows = readListRows(doc, mode, &lines);
        FUZZ_CHECK(lines.size() == rows.size());
        for (size_t k = 0; k < rows.size(); ++k) {
            FUZZ_CHECK(visible(rows[k].label) && visible(lines[k]));
            if (mode == 0) FUZZ_CHECK(lines[k] == rows[k].label);
            else FUZZ_CHECK(lines[k].size() > rows[k].label.size());
        }
        FUZZ_CHECK(readListRows(doc, mode, nullptr).size() == rows.size());
    }
    const WorkItemReply item = readWorkItem(doc);
    FUZZ_CHECK(visible(item.header));
    for (const ListRow& member : item.staff) FUZZ_CHECK(visible(member.label));
    const PanelEnabling enabling = panelEnabling(1, item.canDispatch, item.isAssigned);
    FUZZ_CHECK(enabling.staffCombo == item.canDispatch);
}

void readSignIn(const std::string& me, const std::string& lines) {
    JsonValue profile, lineList;
    if (!parseReply(me, profile) || !parseReply(lines, lineList)) return;
    const SignInReplies replies = readSignInReplies(profile, lineList);
    FUZZ_CHECK(visible(replies.userName));
    for (const ListRow& row : replies.memberships) FUZZ_CHECK(visible(row.label));
    for (const ListRow& row : replies.lines) FUZZ_CHECK(visible(row.label));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string first, second;
    bool hasSecond = false;
    splitAtNul(data, size, first, second, hasSecond);
    readEverything(first);
    if (hasSecond) readEverything(second);
    readSignIn(first, hasSecond ? second : first);
    return 0;
}
