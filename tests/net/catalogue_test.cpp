// What each job kind sends, checked without a network.
#include <doctest/doctest.h>

#include "net/causes.h"
#include "net/requests.h"
#include "text/utf.h"

#include <stdexcept>

namespace {

NetJob jobOf(int32_t kind, int32_t mode = 0) {
    NetJob job;
    job.kind = kind;
    job.mode = mode;
    job.serverUrl = L"https://support.example:8443";
    job.params[Slot::token] = L"tok-1";
    job.params[Slot::orgId] = L"org-1";
    return job;
}

}  // namespace

TEST_CASE("sign-in sends the credentials escaped and never a token") {
    NetJob job = jobOf(NetJobKind::SignIn);
    job.params[Slot::token] = L"old-token";
    job.params[Slot::login] = L"op\"er\\ator";
    job.params[Slot::password] = L"па\nсс";
    HttpRequest request = signInRequest(job);
    CHECK(request.method == L"POST");
    CHECK(request.path == L"/api/auth/login");
    CHECK(request.token.empty());
    CHECK(request.serverUrl == job.serverUrl);
    CHECK(request.body == "{\"login\":\"op\\\"er\\\\ator\",\"password\":\"\xD0\xBF\xD0\xB0\\n\xD1\x81\xD1\x81\"}");

    HttpRequest me = profileRequest(job, L"new-token");
    HttpRequest lines = linesRequest(job, L"new-token");
    CHECK(me.method == L"GET");
    CHECK(me.path == L"/api/me");
    CHECK(me.token == L"new-token");
    CHECK(me.body.empty());
    CHECK(lines.path == L"/api/lines");
    CHECK(lines.token == L"new-token");
}

TEST_CASE("lists: rooms in room mode, one work list for cases and tickets, rooms for forward targets") {
    NetJob rooms = jobOf(NetJobKind::Refresh, 0);
    rooms.params[Slot::orgId] = L"o&x=1";
    CHECK(listRequest(rooms).path == L"/api/rooms?orgId=o&x=1");
    CHECK(listRequest(rooms).method == L"GET");
    CHECK(listRequest(rooms).token == L"tok-1");
    CHECK(listRequest(jobOf(NetJobKind::Refresh, 1)).path == L"/api/work?orgId=org-1");
    CHECK(listRequest(jobOf(NetJobKind::Refresh, 2)).path == L"/api/work?orgId=org-1");
    for (int mode = 0; mode <= 2; ++mode) {
        HttpRequest targets = actionRequest(jobOf(NetJobKind::LoadForwardTargets, mode));
        CHECK(targets.method == L"GET");
        CHECK(targets.path == L"/api/rooms?orgId=org-1");
        CHECK(targets.body.empty());
    }
}

TEST_CASE("refresh: work item only in case and ticket modes with a selection; read mark only on the newest page") {
    NetJob job = jobOf(NetJobKind::Refresh, 1);
    CHECK_FALSE(refreshLoadsWorkItem(job));
    job.params[Slot::itemId] = L"c7";
    CHECK(refreshLoadsWorkItem(job));
    CHECK(workItemRequest(job).path == L"/api/work/case/c7");
    job.mode = 2;
    CHECK(workItemRequest(job).path == L"/api/work/ticket/c7");
    CHECK(workItemRequest(job).method == L"GET");
    job.mode = 0;
    CHECK_FALSE(refreshLoadsWorkItem(job));

    CHECK(refreshMarksRead(job));
    HttpRequest history = historyRequest(job, L"r1");
    CHECK(history.method == L"GET");
    CHECK(history.path == L"/api/rooms/r1/messages?q=");
    CHECK(history.body.empty());
    HttpRequest read = readMarkRequest(job, L"r1");
    CHECK(read.method == L"POST");
    CHECK(read.path == L"/api/rooms/r1/read");
    CHECK(read.body == "{}");

    job.params[Slot::searchQuery] = L"a b&c Ж";
    CHECK(historyRequest(job, L"r1").path == L"/api/rooms/r1/messages?q=a%20b%26c%20%D0%96");
    CHECK_FALSE(refreshMarksRead(job));
    job.params[Slot::searchQuery].clear();
    job.params[Slot::beforeCursor] = L"m:40&x";
    CHECK(historyRequest(job, L"r1").path == L"/api/rooms/r1/messages?q=&before=m:40&x");
    CHECK_FALSE(refreshMarksRead(job));
    CHECK(historyRequest(job, L"").path == L"/api/rooms//messages?q=&before=m:40&x");
}

TEST_CASE("message operations") {
    NetJob send = jobOf(NetJobKind::SendMessage);
    send.params[Slot::roomId] = L"r9";
    send.params[Slot::itemId] = L"other";
    send.params[Slot::text] = L"line1\nline \"2\" \\ end";
    HttpRequest plain = actionRequest(send);
    CHECK(plain.method == L"POST");
    CHECK(plain.path == L"/api/rooms/r9/messages");
    CHECK(plain.body == "{\"text\":\"line1\\nline \\\"2\\\" \\\\ end\",\"replyId\":null}");
    send.params[Slot::messageId] = L"m5";
    CHECK(actionRequest(send).body == "{\"text\":\"line1\\nline \\\"2\\\" \\\\ end\",\"replyId\":\"m5\"}");

    NetJob edit = jobOf(NetJobKind::EditMessage);
    edit.params[Slot::messageId] = L"m5";
    edit.params[Slot::text] = L"новый";
    CHECK(actionRequest(edit).method == L"PATCH");
    CHECK(actionRequest(edit).path == L"/api/messages/m5");
    CHECK(actionRequest(edit).body == "{\"text\":\"\xD0\xBD\xD0\xBE\xD0\xB2\xD1\x8B\xD0\xB9\"}");

    NetJob remove = jobOf(NetJobKind::DeleteMessage);
    remove.params[Slot::messageId] = L"m5";
    CHECK(actionRequest(remove).method == L"PATCH");
    CHECK(actionRequest(remove).path == L"/api/messages/m5");
    CHECK(actionRequest(remove).body == "{\"deleted\":true}");

    NetJob react = jobOf(NetJobKind::ReactToMessage);
    react.params[Slot::messageId] = L"m5";
    react.params[Slot::actionOrEmoji] = L"\xD83D\xDC4D";  // U+1F44D as its surrogate pair
    CHECK(actionRequest(react).method == L"POST");
    CHECK(actionRequest(react).path == L"/api/messages/m5/reaction");
    CHECK(actionRequest(react).body == "{\"emoji\":\"\xF0\x9F\x91\x8D\"}");

    NetJob pin = jobOf(NetJobKind::PinMessage);
    pin.params[Slot::messageId] = L"m5";
    CHECK(actionRequest(pin).method == L"POST");
    CHECK(actionRequest(pin).path == L"/api/messages/m5/pin");
    CHECK(actionRequest(pin).body == "{}");

    NetJob forward = jobOf(NetJobKind::ForwardMessage, 1);
    forward.params[Slot::messageId] = L"m5";
    forward.params[Slot::subject] = L"Target title";
    forward.targetRoomId = L"r2";
    CHECK(actionRequest(forward).method == L"POST");
    CHECK(actionRequest(forward).path == L"/api/messages/m5/forward");
    // The organisation is the current one, whatever the target room's is.
    CHECK(actionRequest(forward).body == "{\"roomId\":\"r2\",\"orgId\":\"org-1\"}");
}

TEST_CASE("work items: create and status actions") {
    NetJob create = jobOf(NetJobKind::CreateWorkItem, 1);
    create.params[Slot::itemId] = L"c3";
    create.params[Slot::lineId] = L"l1";
    create.params[Slot::subject] = L"Тема";
    create.params[Slot::text] = L"a\tb";
    HttpRequest newCase = actionRequest(create);
    CHECK(newCase.method == L"POST");
    CHECK(newCase.path == L"/api/cases");
    CHECK(newCase.body ==
          "{\"caseId\":null,\"orgId\":\"org-1\",\"lineId\":\"l1\",\"subject\":\"\xD0\xA2\xD0\xB5\xD0\xBC\xD0\xB0\","
          "\"text\":\"a\\tb\"}");
    create.fromCase = true;
    HttpRequest fromCase = actionRequest(create);
    CHECK(fromCase.path == L"/api/tickets");
    CHECK(fromCase.body.rfind("{\"caseId\":\"c3\",\"orgId\":\"org-1\",", 0) == 0);
    create.fromCase = false;
    create.mode = 0;
    CHECK(actionRequest(create).path == L"/api/tickets");
    CHECK(actionRequest(create).body.rfind("{\"caseId\":null,", 0) == 0);
    create.mode = 2;
    CHECK(actionRequest(create).path == L"/api/tickets");

    NetJob action = jobOf(NetJobKind::WorkAction, 2);
    action.params[Slot::itemId] = L"t4";
    action.params[Slot::actionOrEmoji] = L"assign";
    action.params[Slot::assigneeOrFileId] = L"u2";
    action.version = 7;
    CHECK(actionRequest(action).method == L"POST");
    CHECK(actionRequest(action).path == L"/api/work/ticket/t4/action");
    CHECK(actionRequest(action).body == "{\"action\":\"assign\",\"version\":7,\"reason\":\"\",\"assignee\":\"u2\"}");
    action.mode = 1;
    action.version = -12;
    action.params[Slot::text] = L"why";
    action.params[Slot::assigneeOrFileId].clear();
    CHECK(actionRequest(action).path == L"/api/work/case/t4/action");
    CHECK(actionRequest(action).body == "{\"action\":\"assign\",\"version\":-12,\"reason\":\"why\",\"assignee\":\"\"}");
    CHECK(decimalText(-2147483647 - 1) == "-2147483648");
}

TEST_CASE("files: upload names, ticket part, download target") {
    NetJob upload = jobOf(NetJobKind::UploadFile, 0);
    upload.params[Slot::roomId] = L"r1";
    upload.params[Slot::itemId] = L"t8";
    upload.params[Slot::uploadPath] = L"C:\\docs\\мой отчёт 1.txt";
    HttpRequest room = actionRequest(upload);
    CHECK(room.method == L"POST");
    CHECK(room.body.empty());
    CHECK(room.uploadPath == upload.params[Slot::uploadPath]);
    CHECK(room.downloadPath.empty());
    CHECK(room.path ==
          L"/api/files?roomId=r1&orgId=org-1&name=%D0%BC%D0%BE%D0%B9%20%D0%BE%D1%82%D1%87%D1%91%D1%82%201.txt");
    upload.mode = 1;
    CHECK(actionRequest(upload).path.find(L"ticketId") == std::wstring::npos);
    upload.mode = 2;
    upload.params[Slot::uploadPath] = L"Z:/tmp/dir\\x/a-b_c.d";
    CHECK(actionRequest(upload).path == L"/api/files?roomId=r1&orgId=org-1&name=a-b_c.d&ticketId=t8");
    upload.params[Slot::itemId].clear();
    CHECK(actionRequest(upload).path == L"/api/files?roomId=r1&orgId=org-1&name=a-b_c.d&ticketId=");
    CHECK(fileNameOf(L"plain") == L"plain");
    CHECK(fileNameOf(L"dir\\") == L"");

    NetJob download = jobOf(NetJobKind::DownloadFile);
    download.params[Slot::assigneeOrFileId] = L"f42";
    download.params[Slot::savePath] = L"C:\\out\\file.bin";
    HttpRequest get = actionRequest(download);
    CHECK(get.method == L"GET");
    CHECK(get.path == L"/api/files/f42");
    CHECK(get.downloadPath == L"C:\\out\\file.bin");
    CHECK(get.uploadPath.empty());
    CHECK(get.body.empty());
}

TEST_CASE("kinds without a single request, and sign-out") {
    for (int32_t kind : {int32_t(0), int32_t(NetJobKind::SignIn), int32_t(NetJobKind::Refresh), int32_t(14), int32_t(-1)}) {
        CHECK_FALSE(isSingleRequestKind(kind));
        CHECK_THROWS_AS(actionRequest(jobOf(kind)), std::invalid_argument);
    }
    for (int32_t kind = NetJobKind::SendMessage; kind <= NetJobKind::DeleteMessage; ++kind)
        CHECK(isSingleRequestKind(kind));
    HttpRequest out = signOutRequest(L"tok-9", L"https://x.example");
    CHECK(out.method == L"POST");
    CHECK(out.path == L"/api/auth/logout");
    CHECK(out.body == "{}");
    CHECK(out.token == L"tok-9");
    CHECK(out.serverUrl == L"https://x.example");
}

TEST_CASE("which requests ask for a compressed reply") {
    const struct {
        const wchar_t* path;
        const wchar_t* downloadPath;
        bool asks;
    } rows[] = {
        {L"/api/rooms?orgId=o1", L"", true},
        {L"/api/rooms/r1/messages?q=&before=", L"", true},
        {L"/api/auth/logout", L"", true},
        {L"/api/auth/login", L"", false},
        {L"/api/files/f1", L"C:\\saved.bin", false},
        {L"/", L"", false},
    };
    for (const auto& row : rows) {
        CAPTURE(toUtf8(row.path));
        HttpRequest request;
        request.path = row.path;
        request.downloadPath = row.downloadPath;
        CHECK(asksCompressedReply(request) == row.asks);
    }
}

TEST_CASE("the cause a failure names, from WinHTTP's error and its secure-failure flags") {
    const struct {
        unsigned long error;
        unsigned long flags;
        const wchar_t* cause;
    } rows[] = {
        {12007, 0, L"имя сервера не найдено"},
        {12029, 0, L"соединение отклонено"},
        {12002, 0, L"нет ответа"},
        {10060, 0, L"нет ответа"},
        {12175, 0x20, L"сертификат сервера не принят: истёк срок действия"},
        {12175, 0x10, L"сертификат сервера не принят: выдан на другое имя"},
        {12175, 0x08, L"сертификат сервера не принят: издатель не является доверенным"},
        {12175, 0x04 | 0x20, L"сертификат сервера не принят: отозван"},
        {12170, 0, L"сертификат сервера не принят: отозван"},
        {12157, 0x08, L"сертификат сервера не принят: издатель не является доверенным"},
        {12157, 0, L""},
        {12030, 0, L""},
        {12180, 0, L"прокси-сервер не пропустил запрос"},
    };
    for (const auto& row : rows) {
        CAPTURE(row.error);
        CAPTURE(row.flags);
        CHECK(toUtf8(failureCause(row.error, row.flags)) == toUtf8(row.cause));
    }
    CHECK(toUtf8(unreachableTextWith(L"нет ответа")) ==
          "Не удалось связаться с сервером или открыть файл (нет ответа)");
    CHECK(toUtf8(unreachableTextWith(L"")) == "Не удалось связаться с сервером или открыть файл");
}
