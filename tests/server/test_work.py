"""Cases and tickets: lists, the item view, the six actions and creation."""
import unittest

from serverkit import ServerCase

STATUSES = {"queued", "assigned", "working", "waiting", "done", "closed", "cancelled"}


class WorkTests(ServerCase):
    def setUp(self):
        self.reset()
        self.admin = self.sign_in("selftest-admin")
        self.member = self.sign_in("selftest-member")

    def item(self, token, kind, item_id):
        reply = self.request("GET", "/api/work/%s/%s" % (kind, item_id), token=token)
        self.assertEqual(reply.status, 200, reply.body)
        return reply.json

    def act(self, token, kind, item_id, action, version=None, assignee="", reason=""):
        if version is None:
            version = self.item(token, kind, item_id)["item"]["version"]
        return self.request("POST", "/api/work/%s/%s/action" % (kind, item_id),
                            {"action": action, "version": version, "reason": reason, "assignee": assignee},
                            token=token)

    def test_lists_and_item_view(self):
        work = self.request("GET", "/api/work?orgId=org-st", token=self.member).json
        for row in work["cases"] + work["tickets"]:
            self.assertTrue(all(isinstance(row[k], str) for k in ("id", "subject", "roomId", "kind", "status")))
            self.assertIn(row["status"], STATUSES)
        self.assertEqual({r["kind"] for r in work["cases"]}, {"case"})
        self.assertEqual({r["kind"] for r in work["tickets"]}, {"ticket"})
        view = self.item(self.admin, "case", "st-case-2")
        self.assertEqual((view["item"]["room_id"], view["item"]["version"], view["ticketId"]),
                         ("room-st-case-2", 3, "st-ticket-1"))
        self.assertIs(view["dispatch"], True)
        self.assertIs(view["assigned"], True)
        self.assertIn({"id": "u-st-member", "name": "Участник проверки"}, view["staff"])
        seen = self.item(self.member, "case", "st-case-2")
        self.assertEqual((seen["dispatch"], seen["assigned"]), (False, False))
        # The work item's own room carries its conversation.
        self.assertEqual(self.history(self.member, "room-st-case-2")["items"][0]["text"], "Обращение взято в работу.")
        self.assertRefused(self.request("GET", "/api/work/ticket/st-case-2", token=self.admin), 404)
        self.assertRefused(self.request("GET", "/api/work/case/none", token=self.admin), 404)

    def test_full_life_cycle_with_versions(self):
        self.assertEqual(self.act(self.admin, "case", "st-case-1", "assign", assignee="u-st-member").status, 200)
        for action, status in (("start", "working"), ("wait", "waiting"), ("start", "working"),
                               ("finish", "done"), ("close", "closed")):
            reply = self.act(self.member, "case", "st-case-1", action, reason="пояснение")
            self.assertEqual(reply.status, 200, reply.body)
            self.assertEqual(reply.json["status"], status)
        view = self.item(self.admin, "case", "st-case-1")
        self.assertEqual(view["item"]["version"], 7)
        self.assertEqual([h["action"] for h in view["item"]["history"]],
                         ["assign", "start", "wait", "start", "finish", "close"])
        self.assertEqual(view["item"]["history"][-1]["reason"], "пояснение")
        self.assertEqual(self.act(self.admin, "case", "st-case-1", "reopen").json["status"], "queued")
        view = self.item(self.member, "case", "st-case-1")
        self.assertEqual((view["item"]["status"], view["assigned"]), ("queued", False))

    def test_stale_version_is_refused(self):
        version = self.item(self.admin, "case", "st-case-2")["item"]["version"]
        self.assertEqual(self.act(self.admin, "case", "st-case-2", "wait", version=version).status, 200)
        stale = self.act(self.admin, "case", "st-case-2", "start", version=version)
        self.assertRefused(stale, 409)
        self.assertEqual(self.item(self.admin, "case", "st-case-2")["item"]["status"], "waiting")
        self.assertRefused(self.act(self.admin, "case", "st-case-2", "start", version=str(version + 1)), 400)

    def test_forbidden_transitions_and_rights(self):
        # Wrong status: 409 and nothing changes.
        for token, kind, item_id, action in ((self.member, "case", "st-case-3", "start"),
                                             (self.admin, "case", "st-case-1", "reopen"),
                                             (self.member, "case", "st-case-3", "finish"),
                                             (self.admin, "case", "st-case-3", "assign")):
            before = self.item(self.admin, kind, item_id)["item"]
            self.assertRefused(self.act(token, kind, item_id, action, assignee="u-st-admin"), 409)
            after = self.item(self.admin, kind, item_id)["item"]
            self.assertEqual((before["status"], before["version"]), (after["status"], after["version"]))
        # Wrong person: only the assignee works, only an administrator dispatches.
        self.assertRefused(self.act(self.member, "case", "st-case-2", "finish"), 403)
        self.assertRefused(self.act(self.member, "case", "st-case-1", "assign", assignee="u-st-member"), 403)
        self.assertRefused(self.act(self.member, "ticket", "st-ticket-1", "close"), 403)
        self.assertRefused(self.act(self.admin, "case", "st-case-1", "assign", assignee="u-st-deep"), 400)
        self.assertRefused(self.act(self.admin, "case", "st-case-1", "fly"), 400)
        # An administrator may cancel unfinished work; the assignee closes finished work.
        self.assertEqual(self.act(self.admin, "ticket", "st-ticket-1", "close").json["status"], "cancelled")
        self.assertEqual(self.act(self.member, "case", "st-case-3", "close").json["status"], "closed")

    def test_closed_item_room_is_read_only(self):
        self.act(self.admin, "case", "st-case-1", "close")
        self.assertIs(self.history(self.member, "room-st-case-1")["canWrite"], False)
        reply = self.request("POST", "/api/rooms/room-st-case-1/messages", {"text": "ещё", "replyId": None},
                             token=self.member)
        self.assertRefused(reply, 403)

    def test_create_case_and_ticket_from_case(self):
        body = {"caseId": None, "orgId": "org-st", "lineId": "line-first", "subject": " ", "text": "Описание"}
        reply = self.request("POST", "/api/cases", body, token=self.member)
        self.assertEqual(reply.status, 201, reply.body)
        case_id = reply.json["id"]
        view = self.item(self.member, "case", case_id)
        self.assertEqual((view["item"]["status"], view["item"]["version"], view["ticketId"]), ("queued", 1, ""))
        self.assertEqual(self.history(self.member, view["item"]["room_id"])["items"][0]["text"], "Описание")
        rows = self.request("GET", "/api/work?orgId=org-st", token=self.member).json["cases"]
        self.assertEqual(rows[0]["id"], case_id)
        # A new conversation room per item, not listed among the rooms.
        rooms = [r["id"] for r in self.request("GET", "/api/rooms?orgId=org-st", token=self.member).json]
        self.assertNotIn(view["item"]["room_id"], rooms)

        ticket = dict(body, caseId=case_id, subject="Заявка по обращению")
        self.assertRefused(self.request("POST", "/api/tickets", ticket, token=self.member), 403)
        reply = self.request("POST", "/api/tickets", ticket, token=self.admin)
        self.assertEqual(reply.status, 201, reply.body)
        self.assertEqual(self.item(self.admin, "case", case_id)["ticketId"], reply.json["id"])
        self.assertEqual(self.item(self.admin, "ticket", reply.json["id"])["item"]["caseId"], case_id)
        self.assertRefused(self.request("POST", "/api/tickets", ticket, token=self.admin), 409)
        plain = dict(body, subject="Отдельная заявка")
        self.assertEqual(self.request("POST", "/api/tickets", plain, token=self.member).status, 201)

    def test_create_refusals(self):
        good = {"caseId": None, "orgId": "org-st", "lineId": "line-first", "subject": "Тема", "text": ""}
        for change, status in (({"subject": ""}, 400), ({"lineId": "line-none"}, 400),
                               ({"orgId": "org-st-deep"}, 403), ({"caseId": "st-case-1"}, 400),
                               ({"subject": "т" * 201}, 400)):
            self.assertRefused(self.request("POST", "/api/cases", dict(good, **change), token=self.admin), status)
        self.assertRefused(self.request("POST", "/api/tickets", dict(good, caseId="st-ticket-1"), token=self.admin),
                           404)


if __name__ == "__main__":
    unittest.main()
