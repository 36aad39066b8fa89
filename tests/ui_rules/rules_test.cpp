#include <doctest/doctest.h>
#include "app/selftest.h"
#include "app/startup.h"
#include "ui/dialogs/actions.h"
#include "ui/dialogs/dialogs.h"
#include "ui/main/keyboard.h"
#include "ui/main/work_panel.h"

TEST_CASE("Ctrl+Backspace deletes back over the spaces, then one word or one run of signs") {
    const std::wstring text = L"Добрый  день, мир!!  ";
    CHECK(wordStartBefore(text, text.size()) == 17);   // "!!" and the spaces after it
    CHECK(wordStartBefore(text, 17) == 14);            // "мир"
    CHECK(wordStartBefore(text, 12) == 8);             // "день"
    CHECK(wordStartBefore(text, 13) == 12);            // the comma alone
    CHECK(wordStartBefore(text, 6) == 0);
    CHECK(wordStartBefore(L"   ", 3) == 0);
    CHECK(wordStartBefore(L"ab", 9) == 0);             // a caret past the end
    CHECK(wordStartBefore(L"line\r\nnext", 6) == 0);   // a line break counts as space
}

TEST_CASE("dialog texts") {
    MessageActions m;
    m.senderName = L"Анна";
    m.text = std::wstring(150, L'x');
    CHECK(deletePrompt(m) == L"Удалить сообщение?\r\nАнна: " + std::wstring(100, L'x'));
    m.text = L"a\r\nb";
    CHECK(deletePrompt(m) == L"Удалить сообщение?\r\nАнна: a\r\nb");

    auto targets = forwardTargets(u8R"([{"id":"a","title":"Первый","canWrite":true},{"id":"b","title":"Второй"},
        {"id":"c","title":"Третий","canWrite":true}])");
    REQUIRE(targets.size() == 2);
    CHECK(targets[0].id == L"a");
    CHECK(targets[1].label == L"Третий");
    CHECK(forwardTargets(R"([{"id":"a","canWrite":false}])").empty());

    CHECK(std::wstring(newWorkCaption(1, false)) == L"Новое обращение");
    CHECK(std::wstring(newWorkCaption(2, false)) == L"Новая заявка");
    CHECK(std::wstring(newWorkCaption(1, true)) == L"Новая заявка");
}

TEST_CASE("command line") {
    CommandLine c = scanCommandLine({L"--server"});
    CHECK_FALSE(c.serverGiven);
    c = scanCommandLine({L"--server", L"https://a.example", L"--server", L"https://b.example"});
    CHECK(c.serverUrl == L"https://b.example");
    c = scanCommandLine({L"--self-test", L"--login-stdin"});
    CHECK(c.selfTest);
    CHECK(c.readStdin);
    CHECK(c.reportPath == L"--login-stdin");
    c = scanCommandLine({L"--history-self-test", L"r.json", L"--message-actions-self-test", L"s.json", L"--bogus"});
    CHECK((c.historyScenario && c.actionsScenario && !c.moderationScenario));
    CHECK(c.reportPath == L"s.json");
    c = scanCommandLine({L"--SERVER", L"x", L"--login-stdin"});
    CHECK_FALSE(c.serverGiven);
    CHECK_FALSE(c.selfTest);
    CHECK(c.readStdin);
    c = scanCommandLine({L"--message-moderation-self-test"});
    CHECK_FALSE(c.selfTest);
    CHECK(markerFor(4294967295u) == L"Проверка нативного клиента 4294967295");
}

TEST_CASE("the self-test report line") {
    SelfTestState st;
    CHECK(selfTestReport(st, true, false, 1234) ==
          "{\"result\":\"passed\",\"nativeUi\":true,\"messageRoundTrip\":true,\"messageModeration\":false,"
          "\"messageActions\":false,\"historyPagination\":false,\"historySearch\":false,\"latestReturn\":false,"
          "\"historyPages\":0,\"maxHistoryCharacters\":0,\"networkOffUiThread\":true,\"elapsedMs\":1234}");
    st.historyScenario = st.actionsScenario = true;
    st.historyPages = 3;
    st.maxHistoryCharacters = 999;
    std::string r = selfTestReport(st, true, true, 5);
    CHECK(r.find("\"result\":\"failed\"") != std::string::npos);
    CHECK(r.find("\"messageActions\":true,\"historyPagination\":true,\"historySearch\":true,\"latestReturn\":true") != std::string::npos);
    CHECK(r.find("\"messageRoundTrip\":false") != std::string::npos);
    CHECK(r.find("\"networkOffUiThread\":false") != std::string::npos);
    r = selfTestReport(st, false, false, 5);
    CHECK(r.find("\"messageRoundTrip\":false,\"messageModeration\":false,\"messageActions\":false,"
                 "\"historyPagination\":false,\"historySearch\":false,\"latestReturn\":false") != std::string::npos);
    CHECK(r.find("\"result\":\"failed\",\"nativeUi\":true") == 1);
    CHECK(selfTestTimeIsUp(40001, 0));
    CHECK_FALSE(selfTestTimeIsUp(40000, 0));
    CHECK(selfTestTimeIsUp(100, 4294967295u - 40000));   // wraps around
    CHECK_FALSE(selfTestTimeIsUp(100, 4294967295u - 100));
}

TEST_CASE("only web addresses reach the shell") {
    CHECK(isWebAddress(L"https://support.kesta.example"));
    CHECK(isWebAddress(L"HTTP://127.0.0.1:8080"));
    CHECK_FALSE(isWebAddress(L"C:\\Windows\\System32\\calc.exe"));
    CHECK_FALSE(isWebAddress(L"file:///C:/secret.txt"));
    CHECK_FALSE(isWebAddress(L"cmd /c del *"));
    CHECK_FALSE(isWebAddress(L"javascript:alert(1)"));
    CHECK_FALSE(isWebAddress(L"https:"));
    CHECK_FALSE(isWebAddress(L""));
}
