// One request to the support server and its reply, as plain records: what
// the request catalogue builds and the transport sends.
#pragma once
#include <string>

struct HttpRequest {
    std::wstring serverUrl;
    std::wstring token;
    std::wstring method;
    std::wstring path;
    std::string body;
    std::wstring uploadPath;
    std::wstring downloadPath;
};

typedef std::string HttpReply;
