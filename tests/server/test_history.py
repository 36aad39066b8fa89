"""History pages, cursors and search, on both data sets."""
import re
import unittest

from serverkit import ServerCase

ISO = re.compile(r"\A\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\Z")


class HistoryTests(ServerCase):
    def setUp(self):
        self.reset()
        self.token = self.sign_in("selftest-admin")

    def test_pages_are_newest_last_and_cover_the_room_once(self):
        pages = self.all_pages(self.token, "st-main")
        self.assertEqual([len(p["items"]) for p in pages], [30, 30, 30, 10])
        ids = [item["id"] for page in reversed(pages) for item in page["items"]]
        self.assertEqual(ids, ["st-%03d" % i for i in range(1, 101)])
        for page in pages:
            times = [item["createdAt"] for item in page["items"]]
            self.assertEqual(times, sorted(times))
            self.assertTrue(all(ISO.match(t) for t in times))
            self.assertIs(page["canWrite"], True)
        self.assertEqual(pages[-1]["page"].get("nextBefore", ""), "")

    def test_cursor_pages_stay_put_when_new_messages_arrive(self):
        first = self.history(self.token, "st-main")
        older = self.history(self.token, "st-main", before=first["page"]["nextBefore"])
        for n in range(3):
            self.request("POST", "/api/rooms/st-main/messages", {"text": "новое %d" % n, "replyId": None},
                         token=self.token)
        again = self.history(self.token, "st-main", before=first["page"]["nextBefore"])
        self.assertEqual([i["id"] for i in again["items"]], [i["id"] for i in older["items"]])
        newest = self.history(self.token, "st-main")
        self.assertEqual(newest["items"][-1]["text"], "новое 2")
        self.assertEqual(len(newest["items"]), 30)

    def test_bad_cursor_is_refused(self):
        for cursor in ("garbage!", "YWJj", "%00"):
            reply = self.request("GET", "/api/rooms/st-main/messages?q=&before=" + cursor, token=self.token)
            self.assertRefused(reply, 400)

    def test_search_is_case_insensitive_and_pages_the_same_way(self):
        found = self.history(self.token, "st-main", query="HISTORY%20Fixture%20PROBE")
        self.assertEqual([i["id"] for i in found["items"]], ["st-001"])
        self.assertEqual(found["page"].get("nextBefore", ""), "")
        pages = self.all_pages(self.token, "st-main", query="%D0%BF%D1%80%D0%BE%D0%B2%D0%B5%D1%80%D0%BE%D1%87%D0%BD%D0%B0%D1%8F")
        hits = [item for page in pages for item in page["items"]]
        self.assertGreater(len(pages), 1)
        self.assertTrue(all("проверочная" in item["text"].lower() for item in hits))
        self.assertEqual(len({item["id"] for item in hits}), len(hits))
        self.assertEqual(self.history(self.token, "st-main", query="no-such-words")["items"], [])

    def test_message_members(self):
        items = {item["id"]: item for item in self.history(self.token, "st-main")["items"]}
        reply = items["st-098"]
        self.assertEqual((reply["replyId"], reply["replySenderName"], reply["replyDeleted"]),
                         ("st-088", "Клиент проверки", False))
        self.assertEqual(reply["replyText"], items["st-088"]["text"])
        to_deleted = items["st-092"]
        self.assertTrue(to_deleted["replyDeleted"])
        self.assertEqual(to_deleted["replyText"], "")
        deleted = items["st-089"]
        self.assertTrue(deleted["deleted"])
        self.assertEqual(deleted["senderName"], "Клиент проверки")
        self.assertEqual(deleted["text"], "")
        self.assertTrue(ISO.match(deleted["createdAt"]))
        self.assertFalse(any(deleted[k] for k in deleted if k.startswith("can")))
        self.assertTrue(items["st-097"]["pinned"])
        self.assertTrue(ISO.match(items["st-097"]["editedAt"]))
        self.assertEqual(items["st-100"]["forwardedName"], "Архив проверки")
        self.assertEqual(items["st-099"]["fileName"], "Проверочный файл.txt")
        self.assertIs(items["st-094"]["fileExpired"], True)
        self.assertEqual(items["st-087"]["reactions"], [{"emoji": "👍", "count": 2, "mine": True}])
        # Flags are per viewer: own messages may be edited, an administrator may pin and delete anything.
        self.assertTrue(items["st-090"]["canEdit"])
        self.assertFalse(items["st-091"]["canEdit"])
        self.assertTrue(items["st-091"]["canDelete"] and items["st-091"]["canPin"])
        member = self.sign_in("selftest-member")
        seen = {item["id"]: item for item in self.history(member, "st-main")["items"]}
        self.assertEqual(seen["st-087"]["reactions"], [{"emoji": "👍", "count": 2, "mine": False}])
        self.assertTrue(seen["st-091"]["canEdit"] and seen["st-091"]["canDelete"])
        self.assertFalse(seen["st-090"]["canEdit"] or seen["st-090"]["canDelete"] or seen["st-090"]["canPin"])
        self.assertTrue(seen["st-090"]["canReact"] and seen["st-090"]["canReply"] and seen["st-090"]["canForward"])

    def test_read_only_room(self):
        page = self.history(self.sign_in("selftest-member"), "st-readonly")
        self.assertIs(page["canWrite"], False)
        self.assertFalse(page["items"][0]["canReply"])


class DemoHistoryTests(ServerCase):
    ARGS = ("--data", "demo")

    def test_demo_accounts_and_long_room(self):
        operator = self.sign_in("operator")
        me = self.request("GET", "/api/me", token=operator).json
        self.assertGreaterEqual(len(me["memberships"]), 3)
        self.assertTrue(all(m["role"] == "admin" for m in me["memberships"]))
        member = self.request("GET", "/api/me", token=self.sign_in("member")).json
        self.assertTrue(member["memberships"] and all(m["role"] == "member" for m in member["memberships"]))
        org = me["memberships"][0]["id"]
        rooms = self.request("GET", "/api/rooms?orgId=" + org, token=operator).json
        sizes = [sum(len(p["items"]) for p in self.all_pages(operator, r["id"])) for r in rooms]
        self.assertGreaterEqual(len(self.all_pages(operator, rooms[0]["id"])), 4)
        self.assertGreater(max(sizes), 4 * min(sizes))
        items = [i for p in self.all_pages(operator, rooms[0]["id"]) for i in p["items"]]
        self.assertTrue(any(i["replyId"] for i in items) and any(i["editedAt"] for i in items))
        self.assertTrue(any(i["pinned"] for i in items) and any(i["reactions"] for i in items))
        self.assertTrue(any(i["fileId"] for i in items) and any(i["replyDeleted"] for i in items))

    def test_demo_work_items_cover_every_status(self):
        operator = self.sign_in("operator")
        work = self.request("GET", "/api/work?orgId=org-veter", token=operator).json
        every = {"queued", "assigned", "working", "waiting", "done", "closed", "cancelled"}
        self.assertEqual({c["status"] for c in work["cases"]}, every)
        self.assertEqual({t["status"] for t in work["tickets"]}, every)


class LargeDemoTests(ServerCase):
    ARGS = ("--data", "large")

    def test_the_first_organisation_holds_ten_thousand_rooms_and_two_thousand_cases(self):
        operator = self.sign_in("operator")
        org = self.request("GET", "/api/me", token=operator).json["memberships"][0]["id"]
        rooms = self.request("GET", "/api/rooms?orgId=" + org, token=operator).json
        self.assertEqual(len(rooms), 10000)
        self.assertEqual(len({r["id"] for r in rooms}), 10000)
        self.assertEqual(rooms[0]["id"], "room-veter-general")
        self.assertGreaterEqual(len(self.all_pages(operator, rooms[0]["id"])), 4)
        work = self.request("GET", "/api/work?orgId=" + org, token=operator).json
        self.assertEqual(len(work["cases"]), 2000)
        self.assertEqual(len(self.request("GET", "/api/rooms?orgId=org-apteka", token=operator).json), 2)


if __name__ == "__main__":
    unittest.main()
