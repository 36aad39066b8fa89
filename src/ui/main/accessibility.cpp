#include "ui/main/accessibility.h"
#include "ui/main/layout.h"
#include <commctrl.h>
#include <oleacc.h>

namespace {
// Spelled out here: the import libraries of some tool sets lack them, and
// the UI Automation headers are not needed for one property.
const GUID accPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const GUID accPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const GUID liveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
const long livePolite = 1;  // LiveSetting Polite

IAccPropServices* propertyService() {
    IAccPropServices* service = nullptr;
    HRESULT hr = CoCreateInstance(accPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, accPropServicesInterface,
                                  reinterpret_cast<void**>(&service));
    return SUCCEEDED(hr) ? service : nullptr;
}

// Every writer of the status line goes through WM_SETTEXT, so the one place
// that sees each new text is here. The label is subclassed by replacing its
// window procedure, as the composer and the search field are: under Wine each
// message through a SetWindowSubclass chain costs about 0.2 ms, and every
// refresh writes the line and reads it back.
LRESULT CALLBACK statusLineProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindowState* s = stateOf(GetParent(label));
    if (!s || !s->statusProc) return DefWindowProcW(label, message, wParam, lParam);
    const WNDPROC original = s->statusProc;
    if (message == WM_SETTEXT) {
        LRESULT set = FALSE;
        try {
            const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
            std::wstring now = text ? text : L"";
            set = CallWindowProcW(original, label, message, wParam, lParam);
            if (set && statusLineSpeaks(s->spokenStatus, now))
                NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, label, OBJID_CLIENT, CHILDID_SELF);
            return set;
        } catch (...) {
            // Out of memory comparing texts: the text is still set, unannounced.
            return set ? set : CallWindowProcW(original, label, message, wParam, lParam);
        }
    }
    return CallWindowProcW(original, label, message, wParam, lParam);
}

HMODULE systemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenW(name) >= MAX_PATH) return nullptr;
    lstrcatW(path, L"\\");
    lstrcatW(path, name);
    return LoadLibraryW(path);
}

template <class Function>
Function exported(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// UiaHostProviderFromHwnd (Windows 7) gives the provider of a window;
// UiaRaiseNotificationEvent (Windows 10 1709) raises the notification on it.
// Its texts are BSTRs, from oleaut32, also taken at run time so that the
// program imports nothing more.
using HostProvider = HRESULT(WINAPI*)(HWND, IUnknown**);
using RaiseNotification = HRESULT(WINAPI*)(IUnknown*, int, int, BSTR, BSTR);
using AllocString = BSTR(WINAPI*)(const OLECHAR*);
using FreeString = void(WINAPI*)(BSTR);

struct Automation {
    HostProvider hostProvider = nullptr;
    RaiseNotification raise = nullptr;
    AllocString allocString = nullptr;
    FreeString freeString = nullptr;
};

const Automation& automation() {
    static const Automation found = [] {
        Automation a;
        HMODULE core = systemLibrary(L"UIAutomationCore.dll");
        a.raise = exported<RaiseNotification>(core, "UiaRaiseNotificationEvent");
        if (!a.raise) return a;
        a.hostProvider = exported<HostProvider>(core, "UiaHostProviderFromHwnd");
        HMODULE strings = systemLibrary(L"oleaut32.dll");
        a.allocString = exported<AllocString>(strings, "SysAllocString");
        a.freeString = exported<FreeString>(strings, "SysFreeString");
        return a;
    }();
    return found;
}

const int notificationItemAdded = 0;     // NotificationKind_ItemAdded
const int notificationProcessAll = 2;    // NotificationProcessing_All

void systemAnnounce(HWND control, const std::wstring& text) {
    const Automation& a = automation();
    if (!a.raise || !a.hostProvider || !a.allocString || !a.freeString) return;
    IUnknown* provider = nullptr;
    if (FAILED(a.hostProvider(control, &provider)) || !provider) return;
    BSTR said = a.allocString(text.c_str());
    BSTR activity = a.allocString(L"Kesta.NewMessages");
    if (said && activity) a.raise(provider, notificationItemAdded, notificationProcessAll, said, activity);
    a.freeString(said);
    a.freeString(activity);
    provider->Release();
}
}  // namespace

void (*announce)(HWND control, const std::wstring& text) = systemAnnounce;

bool statusLineSpeaks(std::wstring& spoken, const std::wstring& text) {
    // The line every job start shows, the periodic refresh's too (set in
    // work.cpp): spoken, it would be heard every four seconds.
    static const wchar_t exchanging[] = L"Обмен с сервером…";
    if (text.empty() || text == exchanging || text == spoken) return false;
    spoken = text;
    return true;
}

void makeStatusLiveRegion(MainWindowState& s) {
    s.statusProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(s.statusLabel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(statusLineProc)));
    IAccPropServices* service = propertyService();
    if (!service) return;
    VARIANT polite{};
    polite.vt = VT_I4;
    polite.lVal = livePolite;
    // E_NOTIMPL under Wine and on systems before Windows 8: nothing more to do.
    service->SetHwndProp(s.statusLabel, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, liveSettingProperty, polite);
    service->Release();
}

void forgetStatusLiveRegion(MainWindowState& s) {
    if (!s.statusLabel) return;
    IAccPropServices* service = propertyService();
    if (!service) return;
    MSAAPROPID property = liveSettingProperty;
    service->ClearHwndProps(s.statusLabel, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &property, 1);
    service->Release();
}

void nameComposer(MainWindowState& s, const std::wstring& replySender) {
    if (!s.composerLabel) return;
    std::wstring name = composerName(!s.replyToId.empty(), !s.editId.empty(), replySender);
    if (windowText(s.composerLabel) == name) return;
    SetWindowTextW(s.composerLabel, name.c_str());
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, s.composerEdit, OBJID_CLIENT, CHILDID_SELF);
}

std::wstring newMessagesNotice(const std::vector<std::wstring>& shownIds, const std::vector<MessageActions>& page,
                               const std::wstring& userName) {
    size_t count = 0;
    const MessageActions* first = nullptr;
    for (const MessageActions& m : page) {
        if (m.senderName == userName) continue;
        bool known = false;
        for (const std::wstring& id : shownIds)
            if (id == m.id) {
                known = true;
                break;
            }
        if (known) continue;
        if (!first) first = &m;
        ++count;
    }
    if (count == 0) return std::wstring();
    if (count == 1) return L"Новое сообщение: " + first->senderName;
    return L"Новые сообщения: " + std::to_wstring(count);
}
