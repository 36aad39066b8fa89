// The catalogue of server requests: what each job kind sends, as pure
// functions of the job (method, path, body, upload and download paths). The
// worker only decides the order; nothing here touches the network.
#pragma once
#include "net/http_request.h"
#include "net/job_records.h"

#include <string>

// The path word of a work item: "case" in case mode, "ticket" otherwise.
std::wstring workKindWord(int32_t mode);

// The part of a local path after its last backslash or slash.
std::wstring fileNameOf(const std::wstring& path);

// Decimal digits with a leading minus sign when negative.
std::string decimalText(int32_t value);

// SignIn. The login request never carries a token, even when the job has an
// old one; the profile and lines requests carry the token just obtained.
HttpRequest signInRequest(const NetJob& job);
HttpRequest profileRequest(const NetJob& job, const std::wstring& token);
HttpRequest linesRequest(const NetJob& job, const std::wstring& token);

// Refresh, in order: the list, the work item (case and ticket modes with an
// item selected), the history page of the room, and the read mark when the
// newest page is shown without a search.
HttpRequest listRequest(const NetJob& job);
bool refreshLoadsWorkItem(const NetJob& job);
HttpRequest workItemRequest(const NetJob& job);
HttpRequest historyRequest(const NetJob& job, const std::wstring& room);
bool refreshMarksRead(const NetJob& job);
HttpRequest readMarkRequest(const NetJob& job, const std::wstring& room);

// The only request of every other kind (3 to 13, LoadForwardTargets
// included). Throws std::invalid_argument for SignIn, Refresh and unknown
// kinds, which have none.
HttpRequest actionRequest(const NetJob& job);
bool isSingleRequestKind(int32_t kind);

HttpRequest signOutRequest(const std::wstring& token, const std::wstring& serverUrl);

// Whether the request asks for a compressed reply ("Accept-Encoding: gzip"):
// every API request but the sign-in, whose reply carries the token (a
// compressed secret invites length attacks), and no download, whose bytes are
// saved as sent.
bool asksCompressedReply(const HttpRequest& request);
