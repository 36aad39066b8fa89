// The two ways server work fails. A UserMessage carries Russian text shown to
// the operator verbatim; a TransportFailure carries a one-word category
// ("address", "network", "file", "response", "coding", "json") that is never
// shown, and may carry the cause the platform named, which is.
#pragma once
#include <stdexcept>
#include <string>

struct UserMessage : std::runtime_error {
    std::wstring text;
    int status = 0;  // the HTTP status the server refused with; 0 when no server spoke
    explicit UserMessage(std::wstring t, int refusedWith = 0)
        : std::runtime_error("user message"), text(std::move(t)), status(refusedWith) {}
};

struct TransportFailure : std::runtime_error {
    std::string category;
    std::wstring cause;
    explicit TransportFailure(std::string c) : std::runtime_error(c), category(std::move(c)) {}
    TransportFailure(std::string c, std::wstring why)
        : std::runtime_error(c), category(std::move(c)), cause(std::move(why)) {}
};

// A proxy wants a login and password the program does not have, or turned
// down the ones it was given: the window asks the operator (never a worker).
// Shown as it stands where nobody can be asked.
struct ProxySignInNeeded : UserMessage {
    std::wstring proxyHost;
    explicit ProxySignInNeeded(std::wstring host);
};

// The failure texts shown to the operator, each defined once.
inline constexpr wchar_t unreachableText[] = L"Не удалось связаться с сервером или открыть файл";
inline constexpr wchar_t refusedText[] = L"Сервер отклонил запрос";
inline constexpr wchar_t unreadableText[] = L"Не удалось прочитать ответ сервера";
inline constexpr wchar_t proxySignInText[] = L"Прокси-сервер требует входа";

inline ProxySignInNeeded::ProxySignInNeeded(std::wstring host) : UserMessage(proxySignInText), proxyHost(std::move(host)) {}
