#include "relay.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

struct WinsockStart {
    WinsockStart() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

void ensureWinsock() { static WinsockStart started; }

SOCKET listenOn(int port, int* boundPort) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    BOOL yes = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 64) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    if (boundPort) *boundPort = ntohs(address.sin_port);
    return s;
}

// A reset rather than an orderly close: the peer sees the connection die.
void resetSocket(SOCKET s) {
    if (s == INVALID_SOCKET) return;
    linger hard{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    closesocket(s);
}

bool sendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        int sent = send(s, data, static_cast<int>(std::min<size_t>(size, 65536)), 0);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// The head with any Connection header replaced by a close.
std::string closingHead(const std::string& head) {
    std::string out;
    size_t start = 0;
    bool first = true;
    while (start < head.size()) {
        size_t end = head.find("\r\n", start);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(start, end - start);
        start = end + 2;
        if (line.empty()) break;
        if (!first && startsWithNoCase(line, "connection:")) continue;
        out += line + "\r\n";
        first = false;
    }
    return out + "Connection: close\r\n\r\n";
}

long long declaredLength(const std::string& head) {
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find("\r\n", start);
        if (end == std::string::npos) break;
        std::string line = head.substr(start, end - start);
        if (startsWithNoCase(line, "content-length:")) return std::atoll(line.c_str() + 15);
        start = end + 2;
    }
    return 0;
}

void serveConnection(Relay* relay, SOCKET client) {
    std::string head;
    char buffer[65536];
    size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos && head.size() < 65536) {
        int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) {
            closesocket(client);
            return;
        }
        head.append(buffer, static_cast<size_t>(got));
        headEnd = head.find("\r\n\r\n");
    }
    if (headEnd == std::string::npos) {
        closesocket(client);
        return;
    }
    std::string extra = head.substr(headEnd + 4);
    head.resize(headEnd + 4);
    std::string method = head.substr(0, head.find(' '));
    size_t targetStart = head.find(' ') + 1;
    std::string target = head.substr(targetStart, head.find(' ', targetStart) - targetStart);

    RelayRule rule;
    bool ruled = false;
    {
        std::lock_guard<std::mutex> guard(relay->lock);
        relay->heads.push_back(head);
        for (auto it = relay->rules.begin(); it != relay->rules.end(); ++it) {
            if ((!it->method.empty() && it->method != method) || target.compare(0, it->pathPrefix.size(), it->pathPrefix) != 0)
                continue;
            rule = *it;
            ruled = true;
            if (it->count > 0 && --it->count == 0) relay->rules.erase(it);
            break;
        }
    }
    if (ruled && !rule.canned.empty()) {
        // The request body is read first, so the client is never reset while
        // it is still sending.
        long long remaining = declaredLength(head) - static_cast<long long>(extra.size());
        while (remaining > 0) {
            int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            remaining -= got;
        }
        sendAll(client, rule.canned.data(), rule.canned.size());
        shutdown(client, SD_SEND);
        while (recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        closesocket(client);
        return;
    }
    if (relay->upstreamPort == 0) {
        closesocket(client);
        return;
    }
    SOCKET upstream = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(relay->upstreamPort));
    if (upstream == INVALID_SOCKET || connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        resetSocket(upstream);
        resetSocket(client);
        return;
    }
    long long cutAfter = ruled ? rule.cutAfterBodyBytes : -1;
    // A slow uplink: the body is taken from the client a tenth of a second's
    // worth at a time, and a small receive buffer lets the client's writes
    // wait for the link rather than for the loopback's large buffers.
    const int rate = ruled ? rule.uplinkBytesPerSecond : 0;
    if (rate > 0) {
        int small = 8192;
        setsockopt(client, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
    }
    long long bodySent = 0;
    std::string first = closingHead(head);
    bool alive = sendAll(upstream, first.data(), first.size());
    auto forwardBody = [&](const char* data, size_t size) {
        if (cutAfter >= 0 && bodySent + static_cast<long long>(size) >= cutAfter) return false;
        bodySent += static_cast<long long>(size);
        return sendAll(upstream, data, size);
    };
    if (alive && !extra.empty()) alive = forwardBody(extra.data(), extra.size());
    bool clientOpen = true;
    while (alive) {
        fd_set readable;
        FD_ZERO(&readable);
        if (clientOpen) FD_SET(client, &readable);
        FD_SET(upstream, &readable);
        timeval wait{1, 0};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (relay->stopping) break;
        if (ready <= 0) continue;
        if (clientOpen && FD_ISSET(client, &readable)) {
            const int wanted = rate > 0 ? std::max(1, rate / 10) : static_cast<int>(sizeof buffer);
            if (rate > 0) Sleep(100);
            int got = recv(client, buffer, std::min(wanted, static_cast<int>(sizeof buffer)), 0);
            if (got <= 0) {
                clientOpen = false;
                shutdown(upstream, SD_SEND);
            } else if (!forwardBody(buffer, static_cast<size_t>(got))) {
                alive = false;
                break;
            }
        }
        if (FD_ISSET(upstream, &readable)) {
            int got = recv(upstream, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            if (!sendAll(client, buffer, static_cast<size_t>(got))) break;
        }
    }
    if (!alive) {
        // The server "dies": both connections are reset mid-stream.
        resetSocket(upstream);
        resetSocket(client);
        return;
    }
    closesocket(upstream);
    shutdown(client, SD_SEND);
    closesocket(client);
}

void acceptLoop(Relay* relay) {
    for (;;) {
        SOCKET listener = relay->listener.load();
        if (listener == INVALID_SOCKET) return;
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        std::lock_guard<std::mutex> guard(relay->lock);
        relay->connections.emplace_back(serveConnection, relay, client);
    }
}

void joinFinishedConnections(Relay& relay) {
    std::vector<std::thread> all;
    {
        std::lock_guard<std::mutex> guard(relay.lock);
        all.swap(relay.connections);
    }
    for (std::thread& t : all) t.join();
}

}  // namespace

void startRelay(Relay& relay, int upstreamPort) {
    ensureWinsock();
    relay.upstreamPort = upstreamPort;
    relay.stopping = false;
    relay.listener = listenOn(0, &relay.port);
    REQUIRE(relay.listener.load() != INVALID_SOCKET);
    relay.acceptor = std::thread(acceptLoop, &relay);
}

void pauseRelay(Relay& relay) {
    SOCKET listener = relay.listener.exchange(INVALID_SOCKET);
    if (listener != INVALID_SOCKET) closesocket(listener);
    if (relay.acceptor.joinable()) relay.acceptor.join();
    joinFinishedConnections(relay);
}

void resumeRelay(Relay& relay) {
    if (relay.listener.load() != INVALID_SOCKET) return;
    int port = 0;
    relay.listener = listenOn(relay.port, &port);
    REQUIRE(relay.listener.load() != INVALID_SOCKET);
    relay.acceptor = std::thread(acceptLoop, &relay);
}

void stopRelay(Relay& relay) {
    relay.stopping = true;
    pauseRelay(relay);
}

void addRelayRule(Relay& relay, const RelayRule& rule) {
    std::lock_guard<std::mutex> guard(relay.lock);
    relay.rules.push_back(rule);
}

void clearRelayRules(Relay& relay) {
    std::lock_guard<std::mutex> guard(relay.lock);
    relay.rules.clear();
}

std::vector<std::string> relayHeads(Relay& relay) {
    std::lock_guard<std::mutex> guard(relay.lock);
    return relay.heads;
}

std::wstring relayUrl(const Relay& relay, const wchar_t* host) {
    return std::wstring(L"http://") + host + L":" + std::to_wstring(relay.port);
}

std::string httpReply(int status, const std::string& body, const char* contentType) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}
