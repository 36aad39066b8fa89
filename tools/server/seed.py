"""Helpers the data sets use to describe their initial state.

A seed is a plain dict of lists (users, orgs, memberships, lines, rooms,
messages, files, work) that `store.Store.reset` loads. Times are absolute
datetimes computed from the server's start time, so the history always looks
recent while the ids stay fixed.
"""
import datetime
import struct
import zlib

PASSWORD = "kesta"


def new_seed():
    return {"users": [], "orgs": [], "memberships": [], "lines": [], "rooms": [],
            "messages": [], "files": [], "work": []}


def user(seed, uid, login, name, password=PASSWORD):
    seed["users"].append({"id": uid, "login": login, "name": name, "password": password})


def org(seed, oid, name):
    seed["orgs"].append({"id": oid, "name": name})


def member(seed, uid, oid, role):
    seed["memberships"].append((uid, oid, role))


def room(seed, rid, oid, title, kind="group", write="all", moderators=(), work="", listed=True):
    seed["rooms"].append({"id": rid, "org": oid, "title": title, "kind": kind, "write": write,
                          "moderators": list(moderators), "work": work, "listed": listed})


def message(seed, mid, rid, at, text, sender="", sender_name="", **extra):
    record = {"id": mid, "room": rid, "at": at, "text": text, "sender": sender, "senderName": sender_name}
    record.update(extra)
    seed["messages"].append(record)


def file(seed, fid, oid, rid, name, content=b"", expired=False, size=None):
    record = {"id": fid, "org": oid, "room": rid, "name": name, "content": content, "expired": expired}
    if size is not None:
        record["size"] = size
    seed["files"].append(record)


def work(seed, wid, kind, oid, subject, status, at, line, assignee="", version=1, case_id="",
         ticket_id="", created_by=""):
    """Adds a case or ticket together with its own unlisted conversation room."""
    rid = "room-" + wid
    room(seed, rid, oid, subject, kind=kind, work=wid, listed=False)
    seed["work"].append({"id": wid, "kind": kind, "org": oid, "subject": subject, "status": status,
                         "version": version, "room": rid, "line": line, "assignee": assignee,
                         "caseId": case_id, "ticketId": ticket_id, "at": at, "createdBy": created_by})
    return rid


def minutes_before(now, minutes):
    return now - datetime.timedelta(minutes=minutes)


def tiny_png(width=16, height=16, rgb=(40, 110, 200)):
    """A valid PNG of one colour, so the demo has a real picture to download."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    rows = b"".join(b"\x00" + bytes(rgb) * width for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))
