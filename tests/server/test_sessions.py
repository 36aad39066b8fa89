"""Sign-in, tokens, directories and the general reply rules."""
import unittest

from serverkit import ServerCase


class SessionTests(ServerCase):
    def test_sign_in_gives_distinct_random_tokens_that_sign_out_invalidates(self):
        first = self.sign_in("selftest-admin")
        second = self.sign_in("selftest-admin")
        self.assertNotEqual(first, second)
        self.assertGreaterEqual(len(first), 32)
        self.assertEqual(self.request("GET", "/api/me", token=first).status, 200)
        self.assertEqual(self.request("POST", "/api/auth/logout", {}, token=first).status, 200)
        self.assertRefused(self.request("GET", "/api/me", token=first), 401)
        # Signing out one session leaves the other one working.
        self.assertEqual(self.request("GET", "/api/me", token=second).status, 200)

    def test_refused_sign_in(self):
        for body in ({"login": "selftest-admin", "password": "wrong"},
                     {"login": "nobody", "password": "kesta"},
                     {"login": "SELFTEST-ADMIN", "password": "kesta"}):
            reply = self.request("POST", "/api/auth/login", body)
            self.assertRefused(reply, 401)
            self.assertEqual(reply.error, "Неверный логин или пароль")
            self.assertNotIn("token", reply.json)
        self.assertRefused(self.request("POST", "/api/auth/login", {"login": "", "password": ""}), 400)
        self.assertRefused(self.request("POST", "/api/auth/login", {"login": 5, "password": "kesta"}), 400)
        self.assertRefused(self.request("POST", "/api/auth/login", raw=b"{not json",
                                        headers={"Content-Type": "application/json"}), 400)

    def test_every_request_but_sign_in_needs_a_known_token(self):
        for method, path in (("GET", "/api/me"), ("GET", "/api/lines"), ("GET", "/api/rooms?orgId=org-st"),
                             ("GET", "/api/rooms/st-main/messages?q="), ("POST", "/api/rooms/st-main/read"),
                             ("GET", "/api/work?orgId=org-st"), ("GET", "/api/files/st-file-1"),
                             ("POST", "/api/auth/logout"), ("GET", "/api/no-such-thing")):
            for token in (None, "made-up-token"):
                reply = self.request(method, path, {} if method == "POST" else None, token=token)
                self.assertRefused(reply, 401)

    def test_client_header_is_required_on_the_api(self):
        reply = self.request("POST", "/api/auth/login", {"login": "selftest-admin", "password": "kesta"},
                             headers={"X-Kesta-Client": None})
        self.assertRefused(reply, 400)

    def test_profile_lines_and_rooms(self):
        token = self.sign_in("selftest-member")
        me = self.request("GET", "/api/me", token=token).json
        self.assertEqual(me["user"]["name"], "Участник проверки")
        self.assertEqual([(m["id"], m["role"]) for m in me["memberships"]],
                         [("org-st", "member"), ("org-st-second", "member")])
        lines = self.request("GET", "/api/lines", token=token).json
        self.assertTrue(lines and all(isinstance(l["id"], str) and l["name"] for l in lines))
        rooms = self.request("GET", "/api/rooms?orgId=org-st", token=token).json
        self.assertEqual(rooms[0]["id"], "st-main")
        writable = {room["id"]: room["canWrite"] for room in rooms}
        # Announcements are for administrators; read-only rooms for nobody.
        self.assertEqual(writable, {"st-main": True, "st-forward": True, "st-readonly": False, "st-admins": False})
        admin = self.sign_in("selftest-admin")
        rooms = self.request("GET", "/api/rooms?orgId=org-st", token=admin).json
        self.assertTrue({r["id"]: r["canWrite"] for r in rooms}["st-admins"])
        for room in rooms:
            self.assertTrue(all(isinstance(room[k], str) for k in ("id", "title", "kind")), room)

    def test_organisation_access(self):
        token = self.sign_in("selftest-member")
        self.assertRefused(self.request("GET", "/api/rooms?orgId=org-st-deep", token=token), 403)
        self.assertRefused(self.request("GET", "/api/rooms?orgId=", token=token), 400)
        self.assertRefused(self.request("GET", "/api/work?orgId=org-st-deep", token=token), 403)
        # A room of another organisation does not exist for this user.
        self.assertRefused(self.request("GET", "/api/rooms/stdeep-room/messages?q=", token=token), 404)

    def test_unknown_paths_and_methods(self):
        token = self.sign_in("selftest-admin")
        self.assertRefused(self.request("GET", "/api/nothing", token=token), 404)
        self.assertRefused(self.request("DELETE", "/api/me", token=token), 405)
        self.assertRefused(self.request("GET", "/elsewhere"), 404)

    def test_json_body_needs_json_content_type(self):
        token = self.sign_in("selftest-admin")
        reply = self.request("POST", "/api/rooms/st-forward/messages", raw=b'{"text":"x","replyId":null}',
                             token=token, headers={"Content-Type": "text/plain"})
        self.assertRefused(reply, 415)

    def test_web_page(self):
        reply = self.request("GET", "/", headers={"X-Kesta-Client": None})
        self.assertEqual(reply.status, 200)
        self.assertTrue(reply.headers["Content-Type"].startswith("text/html"))
        self.assertIn("Проверочная организация", reply.body.decode("utf-8"))


class ReadMarkTests(ServerCase):
    def test_read_mark_clears_unread_count_per_user(self):
        self.reset()
        admin = self.sign_in("selftest-admin")
        member = self.sign_in("selftest-member")

        def unread(token):
            rooms = self.request("GET", "/api/rooms?orgId=org-st", token=token).json
            return {r["id"]: r["unread"] for r in rooms}["st-forward"]

        before = unread(member)
        self.assertEqual(self.request("POST", "/api/rooms/st-forward/messages",
                                      {"text": "новое", "replyId": None}, token=admin).status, 201)
        self.assertEqual(unread(member), before + 1)
        self.assertEqual(self.request("POST", "/api/rooms/st-forward/read", {}, token=member).status, 200)
        self.assertEqual(unread(member), 0)
        # One's own messages never count as unread.
        self.assertEqual(self.request("POST", "/api/rooms/st-forward/read", {}, token=admin).status, 200)
        self.request("POST", "/api/rooms/st-forward/messages", {"text": "ещё", "replyId": None}, token=admin)
        self.assertEqual(unread(admin), 0)
        self.assertRefused(self.request("POST", "/api/rooms/nope/read", {}, token=member), 404)
        marks = self.request("GET", "/__test/state").json["reads"]
        self.assertIn(("u-st-member", "st-forward"), [(m["user"], m["room"]) for m in marks])


if __name__ == "__main__":
    unittest.main()
