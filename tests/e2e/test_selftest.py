"""The real client, hidden, under Wine, through each self-test mode against the
local server's self-test fixture; the report is checked member by member and
the server's own state shows what the scenario did."""
import concurrent.futures
import json
import os
import re
import unittest

from kesta_run import REPORT_KEYS, SCENARIO_KEYS, Server, run_kesta, stdin_json

PROBE = "history fixture probe 7f3a"
ADMIN = dict(login="selftest-admin", password="kesta")
MEMBER = dict(login="selftest-member", password="kesta")


class ReportChecks(unittest.TestCase):
    def assert_report(self, run, passed, true_members=(), pages_at_least=0):
        self.assertIsNotNone(run.report, "no report written")
        # One line of compact JSON, members in their order, no white space.
        self.assertNotIn(b" ", run.raw)
        self.assertNotIn(b"\n", run.raw)
        self.assertEqual(list(run.report), REPORT_KEYS)
        self.assertEqual(run.report["result"], "passed" if passed else "failed")
        self.assertIs(run.report["nativeUi"], True)
        for key in SCENARIO_KEYS:
            self.assertIs(run.report[key], key in true_members, key)
        self.assertIs(run.report["networkOffUiThread"], True)
        self.assertIsInstance(run.report["elapsedMs"], int)
        self.assertLess(run.report["elapsedMs"], 45000)
        self.assertGreaterEqual(run.report["historyPages"], pages_at_least)
        self.assertEqual(run.code, 0 if passed else 1)


class PassingModes(ReportChecks):
    def setUp(self):
        self.server = Server()

    def tearDown(self):
        self.server.close()

    def messages(self, room):
        return [m for m in self.server.state()["messages"] if m["room"] == room]

    def test_round_trip(self):
        run = run_kesta(["--server", self.server.url, "--self-test", "REPORT"], stdin_json(**ADMIN))
        self.assert_report(run, True, ["messageRoundTrip"])
        self.assertEqual(run.report["historyPages"], 0)
        self.assertEqual(run.report["maxHistoryCharacters"], 0)
        sent = [m for m in self.messages("st-main") if m["text"].startswith("Проверка нативного клиента ")]
        self.assertEqual(len(sent), 1)
        self.assertRegex(sent[0]["text"], r"^Проверка нативного клиента \d+$")

    def test_history(self):
        run = run_kesta(["--server", self.server.url, "--history-self-test", "REPORT"],
                        stdin_json(historyMarker=PROBE, **ADMIN))
        self.assert_report(run, True, ["historyPagination", "historySearch", "latestReturn"], pages_at_least=2)
        self.assertGreater(run.report["maxHistoryCharacters"], 1000)
        # The history run only reads: nothing new in the room.
        self.assertEqual(len(self.messages("st-main")), 100)

    def check_actions(self, user, edit_target):
        run = run_kesta(["--server", self.server.url, "--message-actions-self-test", "REPORT"],
                        stdin_json(replyTarget="st-088", editTarget=edit_target, forwardRoom="st-forward", **user))
        self.assert_report(run, True, ["messageActions"])
        main = self.messages("st-main")
        replies = [m for m in main if m.get("replyId") == "st-088" and m["text"].endswith(" ответ")]
        self.assertEqual(len(replies), 1)
        edited = [m for m in main if m["id"] == edit_target][0]
        self.assertTrue(edited["text"].endswith(" изменено"))
        self.assertTrue(edited["editedAt"])
        forwards = [m for m in self.messages("st-forward") if m.get("forwardedName")]
        self.assertEqual(len(forwards), 1)

    def test_message_actions_admin(self):
        self.check_actions(ADMIN, "st-090")

    def test_message_actions_member(self):
        self.check_actions(MEMBER, "st-091")

    def test_moderation_admin(self):
        run = run_kesta(["--server", self.server.url, "--message-moderation-self-test", "REPORT"],
                        stdin_json(moderationTarget="st-093", moderationRole="admin", **ADMIN))
        self.assert_report(run, True, ["messageModeration"])
        target = [m for m in self.messages("st-main") if m["id"] == "st-093"][0]
        self.assertTrue(target["deleted"])
        self.assertFalse(target["pinned"])
        pins = [r for r in self.server.log() if r["path"] == "/api/messages/st-093/pin"]
        self.assertEqual(len(pins), 2)  # pinned, then unpinned
        deletes = [r for r in self.server.log() if r["method"] == "PATCH" and r["path"] == "/api/messages/st-093"]
        self.assertEqual(len(deletes), 1)  # the first attempt was cancelled in the dialog

    def test_moderation_member(self):
        run = run_kesta(["--server", self.server.url, "--message-moderation-self-test", "REPORT"],
                        stdin_json(moderationTarget="st-095", moderationRole="member", **MEMBER))
        self.assert_report(run, True, ["messageModeration"])
        target = [m for m in self.messages("st-main") if m["id"] == "st-095"][0]
        self.assertTrue(target["deleted"])
        reactions = [r for r in self.server.log() if r["path"] == "/api/messages/st-095/reaction"]
        self.assertEqual(len(reactions), 2)  # added and removed again
        self.assertEqual(json.loads(reactions[0]["body"]), {"emoji": "👍"})

    def test_two_scenario_flags_run_the_actions_scenario(self):
        run = run_kesta(["--server", self.server.url, "--history-self-test", "REPORT", "--message-actions-self-test",
                         "REPORT"],
                        stdin_json(replyTarget="st-088", editTarget="st-090", forwardRoom="st-forward",
                                   historyMarker=PROBE, **ADMIN))
        # The flags decide the scenario members, as the report's rules have it,
        # though only the actions scenario ran: no history page was visited.
        self.assert_report(run, True, ["messageActions", "historyPagination", "historySearch", "latestReturn"])
        self.assertEqual(run.report["historyPages"], 0)

    def test_no_token_or_password_in_the_report_the_output_or_the_working_folder(self):
        password = "Rq7" + os.urandom(12).hex() + "zX"
        self.server.set_password(ADMIN["login"], password)
        run = run_kesta(["--server", self.server.url, "--self-test", "REPORT"],
                        stdin_json(login=ADMIN["login"], password=password))
        self.assert_report(run, True, ["messageRoundTrip"])
        self.assertEqual(run.left, [])
        tokens = {r["headers"].get("Authorization", "").split(" ")[-1] for r in self.server.log()} - {""}
        self.assertTrue(tokens)
        for secret in [password] + sorted(tokens):
            self.assertNotIn(secret.encode(), run.raw)
            self.assertNotIn(secret.encode(), run.output)
            self.assertNotIn(secret.encode("utf-16-le"), run.output)


class FailingRuns(ReportChecks):
    """Each ends as failed, with every scenario member false and exit code 1."""

    @classmethod
    def setUpClass(cls):
        cls.server = Server()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def run_all(self, cases):
        with concurrent.futures.ThreadPoolExecutor(max_workers=3) as pool:
            futures = {name: pool.submit(run_kesta, args, stdin) for name, (args, stdin) in cases.items()}
            return {name: f.result() for name, f in futures.items()}

    def test_failures(self):
        url = self.server.url
        cases = {
            "wrong password": (["--server", url, "--self-test", "REPORT"],
                               stdin_json(login="selftest-admin", password="wrong")),
            "unreachable server": (["--server", "http://127.0.0.1:1", "--self-test", "REPORT"], stdin_json(**ADMIN)),
            "probe on the newest page": (["--server", url, "--history-self-test", "REPORT"],
                                         stdin_json(login="selftest-latest", password="kesta", historyMarker=PROBE)),
            "reply target not on the first page": (
                ["--server", url, "--message-actions-self-test", "REPORT"],
                stdin_json(replyTarget="st-001", editTarget="st-090", forwardRoom="st-forward", **ADMIN)),
            "member who may pin": (["--server", url, "--message-moderation-self-test", "REPORT"],
                                   stdin_json(login="selftest-pinner", password="kesta", moderationTarget="st-096",
                                              moderationRole="member")),
            "only a login": (["--server", url, "--self-test", "REPORT"], b'{"login":"selftest-admin"}'),
            "a number for the login": (["--server", url, "--self-test", "REPORT"], b'{"login":42,"password":"kesta"}'),
        }
        runs = self.run_all(cases)
        for name, run in runs.items():
            with self.subTest(name):
                # Within the time limit: the report's own clock, since Wine's
                # start-up on a loaded machine is not the client's doing.
                self.assert_report(run, False)
        # Refused sign-ins end at once, not by the time limit.
        self.assertLess(runs["wrong password"].report["elapsedMs"], 20000)
        self.assertLess(runs["only a login"].report["elapsedMs"], 20000)
        # "only a login" really tried to sign in, with an empty password.
        logins = [json.loads(r["body"]) for r in self.server.log() if r["path"] == "/api/auth/login"]
        self.assertIn({"login": "selftest-admin", "password": ""}, logins)
        self.assertIn({"login": "", "password": "kesta"}, logins)
        # A proxy that wants a login: nobody is asked in a self-test, the run
        # fails at once and nothing is sent again.
        self.server.post("/__test/log/clear")
        self.server.post("/__test/fault", {"path": "/api/*", "kind": "proxyAuth", "count": -1,
                                           "credentials": "ops:secret"})
        run = run_kesta(["--server", url, "--self-test", "REPORT"], stdin_json(**ADMIN))
        self.assert_report(run, False)
        self.assertLess(run.report["elapsedMs"], 20000)
        self.assertEqual([r["path"] for r in self.server.log()], ["/api/auth/login"])

    def test_no_usable_input_ends_by_the_time_limit(self):
        cases = {
            "no input": (["--server", self.server.url, "--self-test", "REPORT"], b""),
            "plain text": (["--server", self.server.url, "--self-test", "REPORT"], b"selftest-admin kesta"),
        }
        for name, run in self.run_all(cases).items():
            with self.subTest(name):
                self.assert_report(run, False)
                self.assertGreater(run.report["elapsedMs"], 40000)


class InputAndReport(ReportChecks):
    def setUp(self):
        self.server = Server()

    def tearDown(self):
        self.server.close()

    def test_escapes_in_the_input_are_decoded(self):
        run = run_kesta(["--server", self.server.url, "--self-test", "REPORT"],
                        b'{"login":"selftest\\u002dadmin","password":"kes\\u0074a"}')
        self.assert_report(run, True, ["messageRoundTrip"])

    def test_report_in_a_missing_folder_writes_nothing_and_keeps_the_exit_code(self):
        run = run_kesta(["--server", self.server.url, "--self-test", "Z:\\no\\such\\folder\\report.json"],
                        stdin_json(**ADMIN))
        self.assertIsNone(run.report)
        self.assertEqual(run.code, 0)

    def test_an_empty_report_path_writes_nothing(self):
        run = run_kesta(["--server", self.server.url, "--self-test", ""], stdin_json(**ADMIN))
        self.assertEqual(run.code, 0)
        self.assertIsNone(run.report)
        self.assertEqual(run.left, [])


if __name__ == "__main__":
    unittest.main()
