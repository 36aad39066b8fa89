// One request to the support server and its reply, as plain records: what
// the request catalogue builds and the transport sends.
#pragma once
#include "text/secret.h"
#include <string>

// Each copy of a request wipes its token when it goes.
struct HttpRequest {
    std::wstring serverUrl;
    std::wstring token;
    std::wstring method;
    std::wstring path;
    std::string body;
    std::wstring uploadPath;
    std::wstring downloadPath;

    HttpRequest() = default;
    HttpRequest(const HttpRequest&) = default;
    HttpRequest(HttpRequest&&) = default;
    HttpRequest& operator=(const HttpRequest&) = default;
    HttpRequest& operator=(HttpRequest&&) = default;
    ~HttpRequest() { wipeSecret(token); }
};

typedef std::string HttpReply;
