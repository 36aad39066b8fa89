#include "ui/main/panel.h"
#include "text/utf.h"

const wchar_t* statusLabelFor(const std::wstring& code) {
    static const struct { const wchar_t* code; const wchar_t* label; } table[] = {
        {L"queued", L"В очереди"}, {L"assigned", L"Назначено"}, {L"working", L"В работе"},
        {L"waiting", L"Ожидает"},  {L"done", L"Выполнена"},     {L"closed", L"Закрыто"},
        {L"cancelled", L"Отменена"},
    };
    for (auto& row : table)
        if (code == row.code) return row.label;
    return L"Новая";
}

const wchar_t* workActionName(int index) {
    static const wchar_t* names[6] = {L"assign", L"start", L"wait", L"finish", L"close", L"reopen"};
    return index >= 0 && index < 6 ? names[index] : L"";
}

PanelEnabling panelEnabling(int mode, bool canDispatch, bool isAssigned) {
    bool work = mode != 0;
    PanelEnabling e{};
    e.actions[0] = work && canDispatch;
    e.actions[1] = e.actions[2] = e.actions[3] = work && isAssigned;
    e.actions[4] = work && (isAssigned || canDispatch);
    e.actions[5] = work && canDispatch;
    e.staffCombo = work && canDispatch;
    return e;
}

WorkItemReply readWorkItem(const JsonValue& w) {
    WorkItemReply r;
    JsonIndex item = findMember(w, 0, "item");
    r.roomId = memberString(w, item, "room_id");
    r.version = memberInt(w, item, "version");
    r.canDispatch = memberBool(w, 0, "dispatch");
    r.isAssigned = memberBool(w, 0, "assigned");
    r.hasTicket = !memberString(w, 0, "ticketId").empty();
    r.header = visibleText(memberString(w, item, "subject")) + L" — " + statusLabelFor(memberString(w, item, "status"));
    for (JsonIndex e : arrayElements(w, findMember(w, 0, "staff")))
        r.staff.push_back({memberString(w, e, "id"), visibleText(memberString(w, e, "name")), L"", L""});
    return r;
}
