// A TCP relay on 127.0.0.1 for tests that need a network peer of their own:
// it passes exchanges on to the local server, refuses, cuts, answers in the
// server's place (or a proxy's), and keeps every request head it received.
#pragma once
#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The client talks to the relay, which passes each exchange on to the local
// server unless told otherwise. Every
// forwarded exchange is made to close its connection, so one connection
// carries one request and rules can be matched by the request line.
struct RelayRule {
    std::string method;     // empty: any
    std::string pathPrefix; // request target prefix
    std::string canned;     // when not empty: these bytes are the whole reply
    long long cutAfterBodyBytes = -1;  // >= 0: reset both sides after this much request body
    int count = 1;          // -1: every time
    int uplinkBytesPerSecond = 0;  // > 0: the request body passes no faster, through small buffers
};

struct Relay {
    int upstreamPort = 0;
    int port = 0;
    std::atomic<SOCKET> listener{INVALID_SOCKET};
    std::thread acceptor;
    std::mutex lock;
    std::vector<RelayRule> rules;
    std::vector<std::string> heads;  // every request head received, as sent
    std::vector<std::thread> connections;
    std::atomic<bool> stopping{false};
};

// Starts a relay to upstreamPort (0: no upstream; every request must then be
// answered by a canned rule, or it is closed unanswered).
void startRelay(Relay& relay, int upstreamPort);
// Stops listening: connections are refused until resumeRelay.
void pauseRelay(Relay& relay);
void resumeRelay(Relay& relay);
void stopRelay(Relay& relay);
void addRelayRule(Relay& relay, const RelayRule& rule);
void clearRelayRules(Relay& relay);
std::vector<std::string> relayHeads(Relay& relay);
std::wstring relayUrl(const Relay& relay, const wchar_t* host = L"127.0.0.1");
// A complete HTTP reply with a close of the connection.
std::string httpReply(int status, const std::string& body, const char* contentType = "application/json");
