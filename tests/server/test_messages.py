"""Sending, replies, edits, deletion, reactions, pins, forwards and idempotency."""
import unittest

from serverkit import ServerCase


class MessageTests(ServerCase):
    def setUp(self):
        self.reset()
        self.admin = self.sign_in("selftest-admin")
        self.member = self.sign_in("selftest-member")

    def send(self, token, room, text, reply_id=None, key=None):
        headers = {"Idempotency-Key": key} if key else None
        return self.request("POST", "/api/rooms/%s/messages" % room, {"text": text, "replyId": reply_id},
                            token=token, headers=headers)

    def newest(self, token, room="st-main"):
        return self.history(token, room)["items"][-1]

    def test_send_and_reply(self):
        reply = self.send(self.member, "st-main", "Строка 1\nСтрока \"2\" \\ конец")
        self.assertEqual(reply.status, 201)
        item = self.newest(self.member)
        self.assertEqual((item["id"], item["text"], item["senderName"]),
                         (reply.json["id"], "Строка 1\nСтрока \"2\" \\ конец", "Участник проверки"))
        self.assertEqual((item["replyId"], item["editedAt"], item["deleted"]), ("", "", False))
        self.assertTrue(item["canEdit"] and item["canDelete"])
        self.assertEqual(self.send(self.admin, "st-main", "Ответ", "st-088").status, 201)
        item = self.newest(self.admin)
        self.assertEqual((item["replyId"], item["replySenderName"]), ("st-088", "Клиент проверки"))
        self.assertIn("адрес доставки", item["replyText"])

    def test_send_refusals(self):
        self.assertRefused(self.send(self.member, "st-readonly", "нельзя"), 403)
        self.assertRefused(self.send(self.member, "st-admins", "нельзя"), 403)
        self.assertRefused(self.send(self.member, "st-main", "   "), 400)
        self.assertRefused(self.send(self.member, "st-main", "x" * 10001), 400)
        self.assertRefused(self.send(self.member, "st-main", "ответ", "st-forward-none"), 404)
        self.assertRefused(self.send(self.member, "st-main", "ответ", "st-fwd-1"), 404)
        self.assertRefused(self.send(self.member, "st-main", "ответ", "st-089"), 409)
        self.assertRefused(self.send(self.member, "no-room", "текст"), 404)
        before = len(self.request("GET", "/__test/state").json["messages"])
        reply = self.request("POST", "/api/rooms/st-main/messages", {"text": "без ключа", "replyId": None},
                             token=self.member, headers={"Idempotency-Key": None})
        self.assertRefused(reply, 400)
        for path in ("/api/messages/st-093/pin", "/api/messages/st-093/reaction", "/api/messages/st-093/forward"):
            self.assertRefused(self.request("POST", path, {"emoji": "👍", "roomId": "st-forward", "orgId": "org-st"},
                                            token=self.admin, headers={"Idempotency-Key": None}), 400)
        self.assertEqual(len(self.request("GET", "/__test/state").json["messages"]), before)

    def test_idempotency_key_returns_the_first_outcome(self):
        first = self.send(self.member, "st-main", "один раз", key="{KEY-1}")
        again = self.send(self.member, "st-main", "один раз", key="{KEY-1}")
        self.assertEqual((first.status, again.status), (201, 201))
        self.assertEqual(first.json, again.json)
        texts = [i["text"] for i in self.history(self.member, "st-main")["items"]]
        self.assertEqual(texts.count("один раз"), 1)
        # The same key of another session is another request.
        other = self.sign_in("selftest-member")
        third = self.send(other, "st-main", "один раз", key="{KEY-1}")
        self.assertNotEqual(third.json["id"], first.json["id"])
        # A toggle repeated with its key does not toggle back.
        for _ in range(2):
            self.request("POST", "/api/messages/st-093/pin", {}, token=self.admin,
                         headers={"Idempotency-Key": "{PIN-1}"})
        self.assertTrue(self.message(self.admin, "st-main", "st-093")["pinned"])
        # A refused outcome is repeated too, even once the cause is gone.
        refused = self.send(self.member, "st-main", "   ", key="{KEY-2}")
        self.assertRefused(self.send(self.member, "st-main", "теперь текст есть", key="{KEY-2}"), refused.status)
        # A key reused for another address is refused rather than answered with a foreign outcome.
        self.assertRefused(self.send(self.member, "st-forward", "другое", key="{KEY-1}"), 422)

    def test_edit_only_own_messages(self):
        reply = self.request("PATCH", "/api/messages/st-091", {"text": "исправлено"}, token=self.member)
        self.assertEqual(reply.status, 200)
        item = self.message(self.member, "st-main", "st-091")
        self.assertEqual(item["text"], "исправлено")
        self.assertNotEqual(item["editedAt"], "")
        # Not even an administrator edits someone else's words.
        self.assertRefused(self.request("PATCH", "/api/messages/st-091", {"text": "чужое"}, token=self.admin), 403)
        self.assertRefused(self.request("PATCH", "/api/messages/st-091", {"text": ""}, token=self.member), 400)
        self.assertRefused(self.request("PATCH", "/api/messages/st-091", {}, token=self.member), 400)
        self.assertRefused(self.request("PATCH", "/api/messages/nope", {"text": "x"}, token=self.member), 404)

    def test_delete_rules_and_what_a_deleted_message_keeps(self):
        self.assertRefused(self.request("PATCH", "/api/messages/st-093", {"deleted": True}, token=self.member), 403)
        self.assertEqual(self.request("PATCH", "/api/messages/st-095", {"deleted": True}, token=self.member).status,
                         200)
        self.assertEqual(self.request("PATCH", "/api/messages/st-088", {"deleted": True}, token=self.admin).status,
                         200)
        items = {i["id"]: i for i in self.history(self.member, "st-main")["items"]}
        for mid, sender in (("st-095", "Участник проверки"), ("st-088", "Клиент проверки")):
            item = items[mid]
            self.assertTrue(item["deleted"])
            self.assertEqual((item["text"], item["senderName"], item["reactions"], item["pinned"]),
                             ("", sender, [], False))
            self.assertFalse(any(v for k, v in item.items() if k.startswith("can")), item)
        self.assertTrue(items["st-098"]["replyDeleted"])
        self.assertEqual(items["st-098"]["replyText"], "")
        for method, path, body in (("PATCH", "/api/messages/st-095", {"deleted": True}),
                                   ("PATCH", "/api/messages/st-095", {"text": "воскрешение"}),
                                   ("POST", "/api/messages/st-095/reaction", {"emoji": "👍"}),
                                   ("POST", "/api/messages/st-095/pin", {})):
            self.assertRefused(self.request(method, path, body, token=self.admin), 409)

    def test_reactions_toggle_per_user(self):
        path = "/api/messages/st-093/reaction"
        self.assertEqual(self.request("POST", path, {"emoji": "👍"}, token=self.member).status, 200)
        self.assertEqual(self.request("POST", path, {"emoji": "👍"}, token=self.admin).status, 200)
        seen = self.message(self.member, "st-main", "st-093")["reactions"]
        self.assertEqual(seen, [{"emoji": "✅", "count": 1, "mine": True}, {"emoji": "👍", "count": 2, "mine": True}])
        self.request("POST", path, {"emoji": "👍"}, token=self.member)
        self.request("POST", path, {"emoji": "✅"}, token=self.member)
        self.assertEqual(self.message(self.member, "st-main", "st-093")["reactions"],
                         [{"emoji": "👍", "count": 1, "mine": False}])
        self.request("POST", path, {"emoji": "👍"}, token=self.admin)
        self.assertEqual(self.message(self.member, "st-main", "st-093")["reactions"], [])
        self.assertRefused(self.request("POST", path, {"emoji": ""}, token=self.member), 400)
        self.assertRefused(self.request("POST", path, {}, token=self.member), 400)

    def test_pins_toggle_and_need_rights(self):
        self.assertRefused(self.request("POST", "/api/messages/st-093/pin", {}, token=self.member), 403)
        pinner = self.sign_in("selftest-pinner")
        self.assertEqual(self.request("POST", "/api/messages/st-093/pin", {}, token=pinner).json["pinned"], True)
        self.assertTrue(self.message(self.member, "st-main", "st-093")["pinned"])
        self.assertEqual(self.request("POST", "/api/messages/st-093/pin", {}, token=self.admin).json["pinned"], False)
        self.assertFalse(self.message(self.member, "st-main", "st-093")["pinned"])
        # A room moderator is no moderator elsewhere.
        self.assertRefused(self.request("POST", "/api/messages/st-fwd-1/pin", {}, token=pinner), 403)

    def test_forward_makes_a_separate_message(self):
        body = {"roomId": "st-forward", "orgId": "org-st"}
        reply = self.request("POST", "/api/messages/st-088/forward", body, token=self.member)
        self.assertEqual(reply.status, 201)
        copy = self.newest(self.member, "st-forward")
        self.assertEqual((copy["id"], copy["forwardedName"], copy["senderName"]),
                         (reply.json["id"], "Клиент проверки", "Участник проверки"))
        self.assertEqual(copy["text"], self.message(self.member, "st-main", "st-088")["text"])
        self.assertNotEqual(copy["id"], "st-088")
        # A forward is the first author's words: even its sender may not edit it, only delete it.
        self.assertEqual((copy["canEdit"], copy["canDelete"]), (False, True))
        self.assertRefused(self.request("PATCH", "/api/messages/" + copy["id"], {"text": "другое"},
                                        token=self.member), 403)
        # A forward of a forward keeps the first author; a file travels with it.
        self.request("POST", "/api/messages/%s/forward" % copy["id"], {"roomId": "st-main", "orgId": "org-st"},
                     token=self.admin)
        self.assertEqual(self.newest(self.admin)["forwardedName"], "Клиент проверки")
        self.request("POST", "/api/messages/st-099/forward", body, token=self.admin)
        self.assertEqual(self.newest(self.admin, "st-forward")["fileId"], "st-file-1")
        refusals = [({"roomId": "st-readonly", "orgId": "org-st"}, "st-088", 403),
                    ({"roomId": "st2-general", "orgId": "org-st"}, "st-088", 404),
                    ({"roomId": "st2-general", "orgId": "org-st-second"}, "st-088", 400),
                    ({"roomId": "st-forward", "orgId": "org-st-deep"}, "st-088", 403),
                    (body, "st-089", 409),
                    (body, "st-094", 409)]
        for target, source, status in refusals:
            self.assertRefused(self.request("POST", "/api/messages/%s/forward" % source, target,
                                            token=self.member), status)


if __name__ == "__main__":
    unittest.main()
