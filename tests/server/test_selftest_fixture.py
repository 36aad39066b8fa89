"""Plays the client's self-test scenarios against the "selftest" accounts, request
by request, to prove the fixture lets them pass, lets the failure accounts fail
at the intended check, and that the modes do not spoil each other's targets."""
import unittest

from serverkit import PROBE, ServerCase

MARKER = "Проверка нативного клиента 123456"


def page_text(page):
    """Everything a page could show in the transcript (a superset of it)."""
    parts = []
    for item in page.get("items", []):
        parts += [str(value) for value in item.values() if isinstance(value, str)]
        parts += [reaction["emoji"] for reaction in item.get("reactions", [])]
    return "\n".join(parts)


class Scenario(ServerCase):
    def first_room(self, token):
        org = self.request("GET", "/api/me", token=token).json["memberships"][0]["id"]
        rooms = self.request("GET", "/api/rooms?orgId=" + org, token=token).json
        return org, rooms[0]["id"]

    def selected(self, token, room, message_id):
        """The message as the newest page shows it, or None when it is not there."""
        for item in self.history(token, room)["items"]:
            if item["id"] == message_id:
                return item
        return None

    def history_mode(self, login, marker=PROBE):
        """Returns the name of the failing check, or None when the run passes."""
        token = self.sign_in(login)
        _, room = self.first_room(token)
        latest = self.history(token, room)
        if marker in page_text(latest) or not latest["page"].get("nextBefore"):
            return "history fixture"
        # One page back, then the newest page again, then back to the oldest page.
        self.history(token, room, before=latest["page"]["nextBefore"])
        pages = 1
        if marker in page_text(self.history(token, room)):
            return "newer missing"
        cursor = latest["page"]["nextBefore"]
        while True:
            page = self.history(token, room, before=cursor)
            pages += 1
            if pages > 10:
                return "history loop"
            if not page["page"].get("nextBefore"):
                break
            cursor = page["page"]["nextBefore"]
        if marker not in page_text(page):
            return "oldest missing"
        found = self.history(token, room, query=marker.replace(" ", "%20"))
        if marker not in page_text(found) or len(found["items"]) != 1:
            return "search missing"
        if marker in page_text(self.history(token, room)):
            return "latest missing"
        return None

    def actions_mode(self, login, reply_target, edit_target, forward_room):
        token = self.sign_in(login)
        org, room = self.first_room(token)
        target = self.selected(token, room, reply_target)
        self.assertTrue(target and target["canReply"], "reply selection")
        sent = self.request("POST", "/api/rooms/%s/messages" % room,
                            {"text": MARKER + " ответ", "replyId": reply_target}, token=token)
        self.assertEqual(sent.status, 201)
        self.assertIn(MARKER + " ответ", page_text(self.history(token, room)), "reply visible")
        target = self.selected(token, room, edit_target)
        self.assertTrue(target and target["canEdit"] and target["text"], "edit selection")
        self.assertEqual(self.request("PATCH", "/api/messages/" + edit_target, {"text": MARKER + " изменено"},
                                      token=token).status, 200)
        self.assertIn(MARKER + " изменено", page_text(self.history(token, room)), "edit draft")
        target = self.selected(token, room, edit_target)
        self.assertTrue(target["canEdit"] and target["canReply"] and target["canForward"], "cancel selection")
        targets = [r for r in self.request("GET", "/api/rooms?orgId=" + org, token=token).json if r["canWrite"]]
        self.assertIn(forward_room, [r["id"] for r in targets])
        forwarded = self.request("POST", "/api/messages/%s/forward" % edit_target,
                                 {"roomId": forward_room, "orgId": org}, token=token)
        self.assertEqual(forwarded.status, 201, "forward feedback")

    def moderation_mode(self, login, target_id, role):
        """Returns the name of the failing check, or None."""
        token = self.sign_in(login)
        _, room = self.first_room(token)
        admin = role == "admin"
        item = self.selected(token, room, target_id)
        if item is None:
            return "moderation selection"
        if not item["canDelete"] or (admin and not item["canPin"]) or \
                (not admin and (not item["canReact"] or item["canPin"])):
            return "moderation permissions"

        def liked(entry):
            return any(r["emoji"] == "👍" and r["mine"] for r in entry["reactions"])

        def toggle():
            if admin:
                return self.request("POST", "/api/messages/%s/pin" % target_id, {}, token=token)
            return self.request("POST", "/api/messages/%s/reaction" % target_id, {"emoji": "👍"}, token=token)

        self.assertEqual(toggle().status, 200)
        item = self.selected(token, room, target_id)
        if not (item["pinned"] if admin else liked(item)):
            return "moderation addition"
        if not admin and {"emoji": "👍", "count": 1, "mine": True} not in item["reactions"]:
            return "moderation display"
        self.assertEqual(toggle().status, 200)
        item = self.selected(token, room, target_id)
        if item["pinned"] if admin else liked(item):
            return "moderation removal"
        self.assertEqual(self.request("PATCH", "/api/messages/" + target_id, {"deleted": True},
                                      token=token).status, 200)
        item = self.selected(token, room, target_id)
        if any(item[k] for k in ("canDelete", "canReact", "canPin", "canReply", "canEdit", "canForward")) \
                or item["text"]:
            return "deleted capabilities"
        if not item["deleted"]:
            return "deleted display"
        return None


class PassingModes(Scenario):
    def test_every_mode_passes_in_one_server_run(self):
        self.reset()
        token = self.sign_in("selftest-admin")
        # Message round trip: the marker sent shows on the newest page.
        self.request("POST", "/api/rooms/st-main/messages", {"text": MARKER, "replyId": None}, token=token)
        self.assertIn(MARKER, page_text(self.history(token, "st-main")))
        self.actions_mode("selftest-admin", "st-088", "st-090", "st-forward")
        self.actions_mode("selftest-member", "st-088", "st-091", "st-forward")
        self.assertIsNone(self.moderation_mode("selftest-member", "st-095", "member"))
        self.assertIsNone(self.moderation_mode("selftest-admin", "st-093", "admin"))
        self.assertIsNone(self.history_mode("selftest-admin"))
        self.assertIsNone(self.history_mode("selftest-member"))

    def test_history_mode_from_a_fresh_start(self):
        self.reset()
        self.assertIsNone(self.history_mode("selftest-admin"))


class FailingModes(Scenario):
    def setUp(self):
        self.reset()

    def test_history_failure_accounts(self):
        self.assertEqual(self.history_mode("selftest-latest"), "history fixture")
        self.assertEqual(self.history_mode("selftest-deep"), "history loop")
        self.assertEqual(self.history_mode("selftest-double"), "search missing")
        self.assertEqual(self.history_mode("selftest-misplaced"), "oldest missing")

    def test_moderation_failures(self):
        self.assertEqual(self.moderation_mode("selftest-pinner", "st-096", "member"), "moderation permissions")
        # The administrator's target is someone else's message: a member may not delete it.
        self.assertEqual(self.moderation_mode("selftest-member", "st-093", "member"), "moderation permissions")
        self.assertEqual(self.moderation_mode("selftest-admin", "st-001", "admin"), "moderation selection")


if __name__ == "__main__":
    unittest.main()
