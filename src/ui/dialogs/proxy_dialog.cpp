#include "ui/dialogs/dialogs.h"

#include "net/http.h"
#include "text/secret.h"

#include <commctrl.h>

const wchar_t proxyDialogClass[] = L"KestaProxySignIn";

namespace {
struct ProxyDialogState {
    std::wstring prompt;
    std::wstring login;  // the one given last time, offered again
    HFONT font = nullptr;
    int dpi = 96;  // the DPI the font was made for
    bool done = false;
    bool given = false;
};

// Enter and Escape in the dialog's keyboard navigation come as these two.
enum { ID_PROXY_LOGIN = 3, ID_PROXY_PASSWORD = 4 };

// A hidden label before each edit names it for screen readers.
const DialogControl proxyControls[] = {
    {L"STATIC", L"", 0, WS_CHILD | WS_VISIBLE, 18, 16, 384, 40},
    {L"STATIC", L"Логин", 0, WS_CHILD, 18, 62, 384, 20},
    {L"EDIT", L"", ID_PROXY_LOGIN, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 18, 62, 384, 27},
    {L"STATIC", L"Пароль", 0, WS_CHILD, 18, 100, 384, 20},
    {L"EDIT", L"", ID_PROXY_PASSWORD, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD,
     18, 100, 384, 27},
    {L"BUTTON", L"Войти", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 184, 146, 104, 30},
    {L"BUTTON", L"Отмена", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 298, 146, 104, 30},
};
const size_t proxyControlCount = sizeof(proxyControls) / sizeof(proxyControls[0]);

// Opened on the login; on the password when a login given before is offered
// again (it was turned down, or has expired: the password is what to type).
const DialogForm loginFirstForm = {proxyControls, proxyControlCount, ID_PROXY_LOGIN, IDOK};
const DialogForm passwordFirstForm = {proxyControls, proxyControlCount, ID_PROXY_PASSWORD, IDOK};

const DialogForm& proxyFormOf(const ProxyDialogState* st) {
    return st && !st->login.empty() ? passwordFirstForm : loginFirstForm;
}

void onProxyCreate(HWND w, ProxyDialogState* st) {
    std::vector<HWND> controls = createDialogControls(w, proxyFormOf(st), st->font, st->dpi);
    SetWindowTextW(controls[0], st->prompt.c_str());
    SetWindowTextW(controls[2], st->login.c_str());
    SendMessageW(controls[2], EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(L"Логин"));
    SendMessageW(controls[4], EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(L"Пароль"));
}

// The edit's text into a buffer that is wiped, and the edit's own storage
// overwritten in place before it goes: no copy of the password stays behind.
std::wstring takeEditText(HWND edit) {
    wchar_t text[256] = {};
    int length = GetWindowTextW(edit, text, 256);
    std::wstring taken;
    taken.reserve(256);
    taken.assign(text, length > 0 ? static_cast<size_t>(length) : 0);
    wipeSecret(text, sizeof(text));
    if (length > 0) {
        std::wstring filler(static_cast<size_t>(length), L'*');
        SetWindowTextW(edit, filler.c_str());
    }
    SetWindowTextW(edit, L"");
    return taken;
}

bool onProxyCommand(HWND w, ProxyDialogState* st, int id) {
    if (id != IDOK && id != IDCANCEL) return false;
    if (id == IDOK) {
        std::wstring login = takeEditText(GetDlgItem(w, ID_PROXY_LOGIN));
        std::wstring password = takeEditText(GetDlgItem(w, ID_PROXY_PASSWORD));
        if (!login.empty()) {
            setProxyCredentials(login, password);
            st->login = login;
            st->given = true;
        }
        wipeSecret(password);
        if (!st->given) return true;
    }
    closeModalDialog(w);
    return true;
}
}  // namespace

std::wstring proxyPrompt(const std::wstring& host) {
    return host.empty() ? std::wstring(L"Прокси-сервер требует входа") : L"Прокси-сервер " + host + L" требует входа";
}

LRESULT CALLBACK proxyDialogProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    const ProxyDialogState* st =
        message == WM_CREATE
            ? static_cast<const ProxyDialogState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams)
            : reinterpret_cast<const ProxyDialogState*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    return dialogProcedure<ProxyDialogState>(w, message, wParam, lParam, proxyFormOf(st), onProxyCreate,
                                             onProxyCommand);
}

bool askProxySignIn(MainWindowState& s, const std::wstring& host) {
    // The login last given is kept for the process, like the pair.
    static std::wstring lastLogin;
    ProxyDialogState st;
    st.prompt = proxyPrompt(host);
    st.login = lastLogin;
    st.font = s.uiFont;
    st.dpi = s.dpi;
    DialogWindow shape{proxyDialogClass, L"Вход на прокси-сервер", 440, 230, true, false};
    if (!runDialog(s, shape, &st, st.done)) return false;
    if (st.given) lastLogin = st.login;
    return st.given;
}
