"""State and rules of the local support server.

Everything the HTTP layer needs goes through the functions of `Store`; each
either returns a JSON-ready value or raises `ApiError` with the status and the
Russian text the client shows verbatim. All state is guarded by one re-entrant
lock: operations are short and in memory, only file bodies stream outside it.
"""
import base64
import binascii
import datetime
import os
import secrets
import shutil
import tempfile
import threading

PAGE_SIZE = 30
MAX_UPLOAD = 100000000
MAX_TEXT = 10000
MAX_SUBJECT = 200
MAX_EMOJI = 32

STATUSES = ("queued", "assigned", "working", "waiting", "done", "closed", "cancelled")
ACTIVE = ("queued", "assigned", "working", "waiting")
FINISHED = ("done", "closed", "cancelled")
STATUS_LABELS = {
    "queued": "В очереди", "assigned": "Назначено", "working": "В работе",
    "waiting": "Ожидает", "done": "Выполнена", "closed": "Закрыто", "cancelled": "Отменена",
}
ACTION_LABELS = {
    "assign": "Назначить", "start": "В работу", "wait": "Ожидание",
    "finish": "Готово", "close": "Закрыть", "reopen": "Открыть",
}

# Texts shown to the operator as they stand.
E_LOGIN_MISSING = "Укажите логин и пароль"
E_LOGIN_WRONG = "Неверный логин или пароль"
E_AUTH = "Требуется вход: сеанс не найден или завершён"
E_ORG_MISSING = "Не указана организация"
E_ORG_DENIED = "Нет доступа к организации"
E_ROOM_NOT_FOUND = "Разговор не найден"
E_ROOM_READONLY = "В этот разговор нельзя писать"
E_CURSOR = "Некорректная позиция в истории"
E_MESSAGE_NOT_FOUND = "Сообщение не найдено"
E_MESSAGE_DELETED = "Сообщение удалено"
E_TEXT_EMPTY = "Пустое сообщение"
E_TEXT_LONG = "Сообщение слишком длинное: не более %d символов" % MAX_TEXT
E_REPLY_NOT_FOUND = "Сообщение для ответа не найдено в этом разговоре"
E_REPLY_DELETED = "Нельзя ответить на удалённое сообщение"
E_EDIT_DENIED = "Изменять можно только свои сообщения"
E_PATCH_EMPTY = "Нечего изменять: укажите текст или удаление"
E_DELETE_DENIED = "Удалять чужие сообщения может только администратор"
E_PIN_DENIED = "Закреплять сообщения могут только администраторы и модераторы разговора"
E_REACT_DENIED = "Реакции к этому сообщению недоступны"
E_EMOJI = "Некорректная реакция"
E_FORWARD_TARGET = "Разговор для пересылки не найден"
E_FORWARD_ORG = "Пересылать можно только в пределах одной организации"
E_FORWARD_DENIED = "Это сообщение нельзя переслать"
E_WORK_NOT_FOUND = "Обращение или заявка не найдены"
E_CASE_NOT_FOUND = "Обращение не найдено"
E_TICKET_NOT_FOUND = "Заявка не найдена"
E_SUBJECT = "Укажите тему"
E_SUBJECT_LONG = "Тема слишком длинная: не более %d символов" % MAX_SUBJECT
E_LINE = "Неизвестная линия поддержки"
E_CASE_HAS_TICKET = "По этому обращению уже создана заявка"
E_CASE_WITH_CASE = "Обращение не может ссылаться на другое обращение"
E_TICKET_FROM_CASE_DENIED = "Создавать заявки по обращениям может только администратор организации"
E_ACTION_UNKNOWN = "Неизвестное действие"
E_VERSION_MISSING = "Не указана версия"
E_VERSION_STALE = "Данные устарели: их уже изменил другой сотрудник. Обновите и повторите действие"
E_ONLY_DISPATCH = "Действие доступно только администратору организации"
E_ONLY_ASSIGNEE = "Действие доступно только исполнителю"
E_ONLY_DISPATCH_CANCEL = "Отменить незавершённую работу может только администратор организации"
E_ASSIGNEE = "Выберите сотрудника организации для назначения"
E_REASON_LONG = "Пояснение слишком длинное"
E_FILE_NAME = "Не указано имя файла"
E_FILE_NOT_FOUND = "Файл не найден"
E_FILE_EXPIRED = "Срок хранения файла истёк"
E_FILE_TOO_BIG = "Файл больше 100000000 байт"


class ApiError(Exception):
    def __init__(self, status, text):
        Exception.__init__(self, text)
        self.status = status
        self.text = text


def iso(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)


def encode_cursor(seq):
    raw = ("before:%d" % seq).encode("ascii")
    return base64.urlsafe_b64encode(raw).decode("ascii").rstrip("=")


def decode_cursor(text):
    try:
        padded = text + "=" * (-len(text) % 4)
        raw = base64.urlsafe_b64decode(padded.encode("ascii")).decode("ascii")
    except (ValueError, binascii.Error, UnicodeError):
        raise ApiError(400, E_CURSOR)
    if not raw.startswith("before:") or not raw[7:].isdigit():
        raise ApiError(400, E_CURSOR)
    return int(raw[7:])


def text_member(body, name, required=True):
    value = body.get(name)
    if value is None and not required:
        return None
    if not isinstance(value, str):
        raise ApiError(400, "Некорректный запрос: поле «%s» должно быть строкой" % name)
    return value


class Store:
    """The whole mutable state of one server run (a data set plus changes)."""

    def __init__(self, seed_builder, storage_dir=None):
        self.lock = threading.RLock()
        self.seed_builder = seed_builder
        self.own_storage = storage_dir is None
        self.storage = storage_dir or tempfile.mkdtemp(prefix="kesta-server-files-")
        self.sessions = {}
        self.reset()

    # ----- loading -------------------------------------------------------
    def reset(self):
        with self.lock:
            seed = self.seed_builder(utc_now())
            for name in os.listdir(self.storage):
                path = os.path.join(self.storage, name)
                if os.path.isfile(path):
                    os.remove(path)
            self.users = {}
            self.logins = {}
            for user in seed["users"]:
                self.users[user["id"]] = dict(user)
                self.logins[user["login"]] = user["id"]
            self.orgs = {org["id"]: dict(org) for org in seed["orgs"]}
            self.org_order = [org["id"] for org in seed["orgs"]]
            self.memberships = {}
            for uid, org, role in seed["memberships"]:
                self.memberships.setdefault(uid, []).append((org, role))
            self.lines = [dict(line) for line in seed["lines"]]
            self.rooms = {}
            self.room_order = []
            for room in seed["rooms"]:
                self._add_room(room)
            self.files = {}
            for entry in seed.get("files", []):
                self._add_seed_file(entry)
            self.messages = {}
            self.room_messages = {rid: [] for rid in self.rooms}
            self.seq = 0
            indexed = list(enumerate(seed["messages"]))
            indexed.sort(key=lambda pair: (pair[1]["at"], pair[0]))
            for _, entry in indexed:
                self._add_seed_message(entry)
            self.work = {}
            self.work_order = []
            for entry in seed.get("work", []):
                self._add_seed_work(entry)
            self.reads = {}
            self.idempotency = {}
            self.counter = 1000
            # Sessions survive a reset: the same users exist again, and test
            # harnesses keep their tokens across resets between cases.
            self.sessions = {t: u for t, u in self.sessions.items() if u in self.users}

    def _add_room(self, room):
        record = {
            "id": room["id"], "org": room["org"], "title": room["title"],
            "kind": room.get("kind", "group"), "write": room.get("write", "all"),
            "moderators": list(room.get("moderators", [])), "work": room.get("work", ""),
            "listed": room.get("listed", True),
        }
        self.rooms[record["id"]] = record
        self.room_order.append(record["id"])
        return record

    def _add_seed_file(self, entry):
        content = entry.get("content", b"")
        record = {
            "id": entry["id"], "name": entry["name"], "org": entry["org"], "room": entry["room"],
            "size": entry.get("size", len(content)), "expired": entry.get("expired", False),
            "ticketId": entry.get("ticketId", ""), "path": "",
        }
        if not record["expired"]:
            record["path"] = os.path.join(self.storage, record["id"])
            with open(record["path"], "wb") as out:
                out.write(content)
        self.files[record["id"]] = record

    def _add_seed_message(self, entry):
        sender = entry.get("sender", "")
        name = entry.get("senderName") or (self.users[sender]["name"] if sender in self.users else "")
        self.seq += 1
        at = entry["at"]
        edited = entry.get("edited")
        record = {
            "id": entry["id"], "seq": self.seq, "room": entry["room"], "sender": sender,
            "senderName": name, "text": entry.get("text", ""), "createdAt": iso(at),
            "editedAt": iso(at + datetime.timedelta(minutes=edited)) if edited else "",
            "deleted": entry.get("deleted", False), "pinned": entry.get("pinned", False),
            "replyId": entry.get("replyId", ""), "forwardedName": entry.get("forwardedName", ""),
            "fileId": entry.get("fileId", ""),
            "reactions": [[emoji, list(users)] for emoji, users in entry.get("reactions", [])],
        }
        if record["deleted"]:
            record["text"] = ""
            record["pinned"] = False
            record["reactions"] = []
        self.messages[record["id"]] = record
        self.room_messages[record["room"]].append(record["id"])
        if record["fileId"] in self.files:
            self.files[record["fileId"]].setdefault("messageId", record["id"])

    def _add_seed_work(self, entry):
        record = {
            "id": entry["id"], "kind": entry["kind"], "org": entry["org"], "subject": entry["subject"],
            "status": entry["status"], "version": entry.get("version", 1), "room": entry["room"],
            "line": entry.get("line", ""), "assignee": entry.get("assignee", ""),
            "caseId": entry.get("caseId", ""), "ticketId": entry.get("ticketId", ""),
            "createdAt": iso(entry["at"]), "updatedAt": iso(entry["at"]), "createdBy": entry.get("createdBy", ""),
            "history": [],
        }
        self.work[record["id"]] = record
        self.work_order.append(record["id"])

    def close(self):
        if self.own_storage:
            shutil.rmtree(self.storage, ignore_errors=True)

    def new_id(self, prefix):
        self.counter += 1
        return "%s-%d" % (prefix, self.counter)

    # ----- sessions ------------------------------------------------------
    def sign_in(self, body):
        login = body.get("login")
        password = body.get("password")
        if not isinstance(login, str) or not isinstance(password, str) or not login or not password:
            raise ApiError(400, E_LOGIN_MISSING)
        with self.lock:
            uid = self.logins.get(login)
            # Compare in constant time so a wrong login and a wrong password look alike.
            expected = self.users[uid]["password"] if uid else "\0"
            if not secrets.compare_digest(expected.encode("utf-8"), password.encode("utf-8")) or not uid:
                raise ApiError(401, E_LOGIN_WRONG)
            token = secrets.token_urlsafe(32)
            self.sessions[token] = uid
            return {"token": token, "user": self.user_view(uid)}

    def set_password(self, body):
        """Test control: a new password for one account, until the next reset."""
        login = body.get("login") if isinstance(body, dict) else None
        password = body.get("password") if isinstance(body, dict) else None
        with self.lock:
            uid = self.logins.get(login) if isinstance(login, str) else None
            if uid is None or not isinstance(password, str) or not password:
                raise ApiError(400, E_LOGIN_MISSING)
            self.users[uid]["password"] = password
            return {"ok": True}

    def user_for_token(self, token):
        with self.lock:
            uid = self.sessions.get(token) if token else None
            if uid is None:
                raise ApiError(401, E_AUTH)
            return uid

    def sign_out(self, token):
        with self.lock:
            self.sessions.pop(token, None)
            for key in [k for k in self.idempotency if k[0] == token]:
                del self.idempotency[key]
            return {"ok": True}

    def forget_sessions(self):
        """Test control: every token stops being valid, as after a restart of a real server."""
        with self.lock:
            forgotten = len(self.sessions)
            self.sessions = {}
            self.idempotency = {}
            return {"ok": True, "forgotten": forgotten}

    def user_view(self, uid):
        user = self.users[uid]
        return {"id": user["id"], "login": user["login"], "name": user["name"]}

    def me(self, uid):
        with self.lock:
            return {
                "user": self.user_view(uid),
                "memberships": [
                    {"id": org, "name": self.orgs[org]["name"], "role": role}
                    for org, role in self.memberships.get(uid, [])
                ],
            }

    def all_lines(self):
        with self.lock:
            return [{"id": line["id"], "name": line["name"]} for line in self.lines]

    # ----- rights --------------------------------------------------------
    def role(self, uid, org):
        for member_org, role in self.memberships.get(uid, []):
            if member_org == org:
                return role
        return None

    def require_org(self, uid, org):
        if not org:
            raise ApiError(400, E_ORG_MISSING)
        if self.role(uid, org) is None:
            raise ApiError(403, E_ORG_DENIED)

    def room_for(self, uid, room_id):
        room = self.rooms.get(room_id)
        # A room of an organisation the user is not in does not exist for them.
        if room is None or self.role(uid, room["org"]) is None:
            raise ApiError(404, E_ROOM_NOT_FOUND)
        return room

    def can_write(self, uid, room):
        role = self.role(uid, room["org"])
        if role is None:
            return False
        if room["work"]:
            item = self.work.get(room["work"])
            if item and item["status"] in ("closed", "cancelled"):
                return False
        if room["write"] == "all":
            return True
        if room["write"] == "admins":
            return role == "admin"
        return False

    def can_pin(self, uid, room):
        return self.role(uid, room["org"]) == "admin" or uid in room["moderators"]

    def file_alive(self, message):
        record = self.files.get(message["fileId"]) if message["fileId"] else None
        return record is not None and not record["expired"]

    def message_flags(self, uid, message, room, writable):
        if message["deleted"]:
            return dict(canReply=False, canEdit=False, canForward=False, canReact=False,
                        canPin=False, canDelete=False)
        own = bool(message["sender"]) and message["sender"] == uid
        admin = self.role(uid, room["org"]) == "admin"
        has_file = bool(message["fileId"])
        return dict(
            canReply=writable,
            canEdit=own and writable and not has_file and not message["forwardedName"],
            canForward=not has_file or self.file_alive(message),
            canReact=True,
            canPin=self.can_pin(uid, room),
            canDelete=own or admin,
        )

    def message_for(self, uid, message_id):
        message = self.messages.get(message_id)
        if message is None:
            raise ApiError(404, E_MESSAGE_NOT_FOUND)
        room = self.rooms[message["room"]]
        if self.role(uid, room["org"]) is None:
            raise ApiError(404, E_MESSAGE_NOT_FOUND)
        return message, room

    # ----- rooms and history ---------------------------------------------
    def rooms_of(self, uid, org):
        with self.lock:
            self.require_org(uid, org)
            result = []
            for rid in self.room_order:
                room = self.rooms[rid]
                if room["org"] != org or not room["listed"]:
                    continue
                result.append(self.room_view(uid, room))
            return result

    def room_view(self, uid, room):
        ids = self.room_messages[room["id"]]
        last_read = self.reads.get((uid, room["id"]), {}).get("seq", 0)
        unread = sum(1 for mid in ids
                     if self.messages[mid]["seq"] > last_read and self.messages[mid]["sender"] != uid
                     and not self.messages[mid]["deleted"])
        last = self.messages[ids[-1]] if ids else None
        return {
            "id": room["id"], "orgId": room["org"], "title": room["title"], "kind": room["kind"],
            "canWrite": self.can_write(uid, room), "unread": unread,
            "lastMessageAt": last["createdAt"] if last else "",
        }

    def history(self, uid, room_id, query, before):
        with self.lock:
            room = self.room_for(uid, room_id)
            ids = self.room_messages[room_id]
            if before:
                limit = decode_cursor(before)
                ids = [mid for mid in ids if self.messages[mid]["seq"] < limit]
            if query:
                needle = query.casefold()
                ids = [mid for mid in ids
                       if not self.messages[mid]["deleted"] and needle in self.messages[mid]["text"].casefold()]
            page = ids[-PAGE_SIZE:]
            older = len(ids) > len(page)
            writable = self.can_write(uid, room)
            return {
                "items": [self.message_view(uid, self.messages[mid], room, writable) for mid in page],
                "page": {
                    "nextBefore": encode_cursor(self.messages[page[0]]["seq"]) if older else "",
                    "size": PAGE_SIZE,
                },
                "canWrite": writable,
                "room": {"id": room["id"], "title": room["title"], "kind": room["kind"]},
            }

    def message_view(self, uid, message, room, writable):
        deleted = message["deleted"]
        view = {
            "id": message["id"], "roomId": message["room"], "createdAt": message["createdAt"],
            "senderId": message["sender"], "senderName": message["senderName"],
            "text": "" if deleted else message["text"], "editedAt": message["editedAt"],
            "deleted": deleted, "pinned": message["pinned"] and not deleted,
            "reactions": [] if deleted else [
                {"emoji": emoji, "count": len(users), "mine": uid in users}
                for emoji, users in message["reactions"] if users
            ],
            "replyId": message["replyId"], "replyText": "", "replySenderName": "", "replyDeleted": False,
            "forwardedName": message["forwardedName"],
            "fileId": "", "fileName": "", "fileSize": 0, "fileExpired": False,
        }
        if message["replyId"]:
            target = self.messages.get(message["replyId"])
            if target is None or target["deleted"]:
                view["replyDeleted"] = True
                if target is not None:
                    view["replySenderName"] = target["senderName"]
            else:
                view["replyText"] = target["text"]
                view["replySenderName"] = target["senderName"]
        record = self.files.get(message["fileId"]) if message["fileId"] else None
        if record is not None and not deleted:
            view.update(fileId=record["id"], fileName=record["name"], fileSize=record["size"],
                        fileExpired=record["expired"])
        view.update(self.message_flags(uid, message, room, writable))
        return view

    def mark_read(self, uid, room_id):
        with self.lock:
            self.room_for(uid, room_id)
            ids = self.room_messages[room_id]
            seq = self.messages[ids[-1]]["seq"] if ids else 0
            self.reads[(uid, room_id)] = {"seq": seq, "at": iso(utc_now())}
            return {"ok": True, "unread": 0}

    # ----- messages ------------------------------------------------------
    def _check_text(self, text):
        if not text.strip():
            raise ApiError(400, E_TEXT_EMPTY)
        if len(text) > MAX_TEXT:
            raise ApiError(400, E_TEXT_LONG)

    def _create_message(self, room, uid, text, reply_id="", forwarded="", file_id=""):
        self.seq += 1
        message = {
            "id": self.new_id("msg"), "seq": self.seq, "room": room["id"], "sender": uid,
            "senderName": self.users[uid]["name"], "text": text, "createdAt": iso(utc_now()),
            "editedAt": "", "deleted": False, "pinned": False, "replyId": reply_id,
            "forwardedName": forwarded, "fileId": file_id, "reactions": [],
        }
        self.messages[message["id"]] = message
        self.room_messages[room["id"]].append(message["id"])
        return message

    def send_message(self, uid, room_id, body):
        with self.lock:
            room = self.room_for(uid, room_id)
            if not self.can_write(uid, room):
                raise ApiError(403, E_ROOM_READONLY)
            text = text_member(body, "text")
            self._check_text(text)
            reply_id = body.get("replyId")
            if reply_id is not None and not isinstance(reply_id, str):
                raise ApiError(400, "Некорректный запрос: поле «replyId» должно быть строкой или null")
            if reply_id:
                target = self.messages.get(reply_id)
                if target is None or target["room"] != room_id:
                    raise ApiError(404, E_REPLY_NOT_FOUND)
                if target["deleted"]:
                    raise ApiError(409, E_REPLY_DELETED)
            message = self._create_message(room, uid, text, reply_id or "")
            return {"id": message["id"], "createdAt": message["createdAt"]}

    def patch_message(self, uid, message_id, body):
        with self.lock:
            message, room = self.message_for(uid, message_id)
            if body.get("deleted") is True:
                if message["deleted"]:
                    raise ApiError(409, E_MESSAGE_DELETED)
                if not self.message_flags(uid, message, room, self.can_write(uid, room))["canDelete"]:
                    raise ApiError(403, E_DELETE_DENIED)
                message.update(deleted=True, text="", pinned=False, reactions=[])
                return {"id": message["id"], "deleted": True}
            if "text" not in body:
                raise ApiError(400, E_PATCH_EMPTY)
            text = text_member(body, "text")
            if message["deleted"]:
                raise ApiError(409, E_MESSAGE_DELETED)
            if not self.message_flags(uid, message, room, self.can_write(uid, room))["canEdit"]:
                raise ApiError(403, E_EDIT_DENIED)
            self._check_text(text)
            message["text"] = text
            message["editedAt"] = iso(utc_now())
            return {"id": message["id"], "editedAt": message["editedAt"]}

    def toggle_reaction(self, uid, message_id, body):
        with self.lock:
            message, room = self.message_for(uid, message_id)
            emoji = body.get("emoji")
            if not isinstance(emoji, str) or not emoji.strip() or len(emoji) > MAX_EMOJI:
                raise ApiError(400, E_EMOJI)
            if message["deleted"]:
                raise ApiError(409, E_MESSAGE_DELETED)
            if not self.message_flags(uid, message, room, self.can_write(uid, room))["canReact"]:
                raise ApiError(403, E_REACT_DENIED)
            for entry in message["reactions"]:
                if entry[0] == emoji:
                    users = entry[1]
                    break
            else:
                users = []
                message["reactions"].append([emoji, users])
            if uid in users:
                users.remove(uid)
            else:
                users.append(uid)
            message["reactions"] = [entry for entry in message["reactions"] if entry[1]]
            return {"emoji": emoji, "count": len(users), "mine": uid in users}

    def toggle_pin(self, uid, message_id):
        with self.lock:
            message, room = self.message_for(uid, message_id)
            if message["deleted"]:
                raise ApiError(409, E_MESSAGE_DELETED)
            if not self.can_pin(uid, room):
                raise ApiError(403, E_PIN_DENIED)
            message["pinned"] = not message["pinned"]
            return {"id": message["id"], "pinned": message["pinned"]}

    def forward(self, uid, message_id, body):
        with self.lock:
            message, room = self.message_for(uid, message_id)
            target_id = text_member(body, "roomId")
            org = text_member(body, "orgId")
            self.require_org(uid, org)
            target = self.rooms.get(target_id)
            if target is None or target["org"] != org:
                raise ApiError(404, E_FORWARD_TARGET)
            if room["org"] != org:
                raise ApiError(400, E_FORWARD_ORG)
            if message["deleted"]:
                raise ApiError(409, E_MESSAGE_DELETED)
            if not self.message_flags(uid, message, room, self.can_write(uid, room))["canForward"]:
                raise ApiError(409, E_FORWARD_DENIED)
            if not self.can_write(uid, target):
                raise ApiError(403, E_ROOM_READONLY)
            origin = message["forwardedName"] or message["senderName"]
            copy = self._create_message(target, uid, message["text"], forwarded=origin,
                                        file_id=message["fileId"])
            return {"id": copy["id"], "roomId": target["id"]}

    # ----- work items ----------------------------------------------------
    def staff_of(self, org):
        staff = []
        for uid, user in self.users.items():
            if self.role(uid, org) is not None:
                staff.append({"id": uid, "name": user["name"]})
        return staff

    def work_row(self, item):
        assignee = self.users.get(item["assignee"])
        line = next((l for l in self.lines if l["id"] == item["line"]), None)
        return {
            "id": item["id"], "subject": item["subject"], "roomId": item["room"], "kind": item["kind"],
            "status": item["status"], "statusLabel": STATUS_LABELS[item["status"]],
            "version": item["version"], "assigneeId": item["assignee"],
            "assigneeName": assignee["name"] if assignee else "",
            "lineId": item["line"], "lineName": line["name"] if line else "",
            "caseId": item["caseId"], "ticketId": item["ticketId"],
            "createdAt": item["createdAt"], "updatedAt": item["updatedAt"],
        }

    def work_list(self, uid, org):
        with self.lock:
            self.require_org(uid, org)
            result = {"cases": [], "tickets": []}
            for wid in reversed(self.work_order):
                item = self.work[wid]
                if item["org"] == org:
                    result["cases" if item["kind"] == "case" else "tickets"].append(self.work_row(item))
            return result

    def work_for(self, uid, kind, item_id):
        item = self.work.get(item_id)
        if item is None or item["kind"] != kind or self.role(uid, item["org"]) is None:
            raise ApiError(404, E_WORK_NOT_FOUND)
        return item

    def work_item(self, uid, kind, item_id):
        with self.lock:
            item = self.work_for(uid, kind, item_id)
            view = self.work_row(item)
            view["room_id"] = item["room"]
            view["history"] = list(item["history"])
            return {
                "item": view,
                "dispatch": self.role(uid, item["org"]) == "admin",
                "assigned": bool(item["assignee"]) and item["assignee"] == uid,
                "ticketId": item["ticketId"] if item["kind"] == "case" else "",
                "staff": self.staff_of(item["org"]),
            }

    def work_action(self, uid, kind, item_id, body):
        with self.lock:
            item = self.work_for(uid, kind, item_id)
            action = body.get("action")
            if action not in ACTION_LABELS:
                raise ApiError(400, E_ACTION_UNKNOWN)
            version = body.get("version")
            if not isinstance(version, int) or isinstance(version, bool):
                raise ApiError(400, E_VERSION_MISSING)
            reason = body.get("reason", "")
            if reason is None:
                reason = ""
            if not isinstance(reason, str):
                raise ApiError(400, "Некорректный запрос: поле «reason» должно быть строкой")
            if len(reason) > 2000:
                raise ApiError(400, E_REASON_LONG)
            assignee = body.get("assignee", "")
            if version != item["version"]:
                raise ApiError(409, E_VERSION_STALE)
            dispatch = self.role(uid, item["org"]) == "admin"
            assigned = bool(item["assignee"]) and item["assignee"] == uid
            status = item["status"]
            new_assignee = item["assignee"]
            if action in ("assign", "reopen") and not dispatch:
                raise ApiError(403, E_ONLY_DISPATCH)
            if action in ("start", "wait", "finish") and not assigned:
                raise ApiError(403, E_ONLY_ASSIGNEE)
            if action == "close" and not (assigned or dispatch):
                raise ApiError(403, E_ONLY_ASSIGNEE)
            if action == "assign":
                allowed = status in ACTIVE
                if allowed and (not isinstance(assignee, str) or self.role(assignee, item["org"]) is None):
                    raise ApiError(400, E_ASSIGNEE)
                new_status, new_assignee = "assigned", assignee
            elif action == "start":
                allowed, new_status = status in ("assigned", "waiting"), "working"
            elif action == "wait":
                allowed, new_status = status == "working", "waiting"
            elif action == "finish":
                allowed, new_status = status in ("working", "waiting"), "done"
            elif action == "close":
                if status in ACTIVE and not dispatch:
                    raise ApiError(403, E_ONLY_DISPATCH_CANCEL)
                allowed = status in ACTIVE or status == "done"
                new_status = "closed" if status == "done" else "cancelled"
            else:
                allowed, new_status, new_assignee = status in FINISHED, "queued", ""
            if not allowed:
                raise ApiError(409, "Действие «%s» недоступно в статусе «%s»"
                               % (ACTION_LABELS[action], STATUS_LABELS[status]))
            now = iso(utc_now())
            item["history"].append({
                "action": action, "from": status, "to": new_status, "by": uid,
                "byName": self.users[uid]["name"], "reason": reason, "at": now,
            })
            item.update(status=new_status, assignee=new_assignee, updatedAt=now,
                        version=item["version"] + 1)
            return {"id": item["id"], "status": new_status, "version": item["version"]}

    def create_work(self, uid, kind, body):
        with self.lock:
            org = text_member(body, "orgId")
            self.require_org(uid, org)
            case_id = body.get("caseId")
            if case_id is not None and not isinstance(case_id, str):
                raise ApiError(400, "Некорректный запрос: поле «caseId» должно быть строкой или null")
            if kind == "case" and case_id:
                raise ApiError(400, E_CASE_WITH_CASE)
            subject = text_member(body, "subject")
            if not subject:
                raise ApiError(400, E_SUBJECT)
            if len(subject) > MAX_SUBJECT:
                raise ApiError(400, E_SUBJECT_LONG)
            line = text_member(body, "lineId")
            if not any(l["id"] == line for l in self.lines):
                raise ApiError(400, E_LINE)
            text = text_member(body, "text", required=False) or ""
            if len(text) > MAX_TEXT:
                raise ApiError(400, E_TEXT_LONG)
            case = None
            if case_id:
                case = self.work.get(case_id)
                if case is None or case["kind"] != "case" or case["org"] != org:
                    raise ApiError(404, E_CASE_NOT_FOUND)
                if self.role(uid, org) != "admin":
                    raise ApiError(403, E_TICKET_FROM_CASE_DENIED)
                if case["ticketId"]:
                    raise ApiError(409, E_CASE_HAS_TICKET)
            item_id = self.new_id(kind)
            room = self._add_room({"id": "room-" + item_id, "org": org, "title": subject, "kind": kind,
                                   "work": item_id, "listed": False})
            self.room_messages[room["id"]] = []
            now = utc_now()
            self._add_seed_work({"id": item_id, "kind": kind, "org": org, "subject": subject,
                                 "status": "queued", "room": room["id"], "line": line,
                                 "caseId": case_id or "", "at": now, "createdBy": uid})
            if case is not None:
                case["ticketId"] = item_id
                case["updatedAt"] = iso(now)
            if text.strip():
                self._create_message(room, uid, text)
            return {"id": item_id, "roomId": room["id"], "version": 1}

    # ----- files ---------------------------------------------------------
    def check_upload(self, uid, room_id, org, name, ticket_id):
        """Validates an upload before its body is read; returns the clean file name."""
        with self.lock:
            self.require_org(uid, org)
            room = self.rooms.get(room_id)
            if room is None or room["org"] != org:
                raise ApiError(404, E_ROOM_NOT_FOUND)
            if not self.can_write(uid, room):
                raise ApiError(403, E_ROOM_READONLY)
            clean = name.replace("\\", "/").split("/")[-1]
            clean = "".join(ch for ch in clean if ch >= " " and ch != "\x7f").strip()[:255]
            if not clean:
                raise ApiError(400, E_FILE_NAME)
            if ticket_id:
                ticket = self.work.get(ticket_id)
                if ticket is None or ticket["kind"] != "ticket" or ticket["org"] != org:
                    raise ApiError(404, E_TICKET_NOT_FOUND)
            return clean

    def upload_path(self):
        return os.path.join(self.storage, "upload-" + secrets.token_hex(8))

    def finish_upload(self, uid, room_id, org, name, ticket_id, temp_path, size):
        with self.lock:
            # Rights may have changed while the body streamed in.
            try:
                clean = self.check_upload(uid, room_id, org, name, ticket_id)
            except ApiError:
                os.remove(temp_path)
                raise
            file_id = self.new_id("file")
            path = os.path.join(self.storage, file_id)
            os.replace(temp_path, path)
            room = self.rooms[room_id]
            message = self._create_message(room, uid, "Файл: " + clean, file_id=file_id)
            self.files[file_id] = {
                "id": file_id, "name": clean, "org": org, "room": room_id, "size": size,
                "expired": False, "ticketId": ticket_id, "path": path, "messageId": message["id"],
            }
            return {"id": file_id, "messageId": message["id"], "name": clean, "size": size}

    def file_for_download(self, uid, file_id):
        with self.lock:
            record = self.files.get(file_id)
            if record is None or self.role(uid, record["org"]) is None:
                raise ApiError(404, E_FILE_NOT_FOUND)
            owner = self.messages.get(record.get("messageId", ""))
            if owner is not None and owner["deleted"] and not any(
                    m["fileId"] == file_id and not m["deleted"] for m in self.messages.values()):
                raise ApiError(404, E_FILE_NOT_FOUND)
            if record["expired"]:
                raise ApiError(410, E_FILE_EXPIRED)
            return dict(record)

    # ----- idempotency ---------------------------------------------------
    def replay(self, token, key):
        with self.lock:
            return self.idempotency.get((token, key))

    def remember(self, token, key, outcome):
        with self.lock:
            self.idempotency[(token, key)] = outcome

    # ----- inspection ----------------------------------------------------
    def dump(self):
        with self.lock:
            return {
                "users": [dict(self.user_view(uid)) for uid in self.users],
                "orgs": [self.orgs[oid] for oid in self.org_order],
                "memberships": [{"user": uid, "org": org, "role": role}
                                for uid, items in self.memberships.items() for org, role in items],
                "lines": self.lines,
                "rooms": [dict(self.rooms[rid], messageCount=len(self.room_messages[rid]))
                          for rid in self.room_order],
                "messages": [dict(self.messages[mid]) for rid in self.room_order
                             for mid in self.room_messages[rid]],
                "work": [self.work[wid] for wid in self.work_order],
                "files": [{k: v for k, v in record.items() if k != "path"} for record in self.files.values()],
                "reads": [{"user": uid, "room": rid, "seq": mark["seq"], "at": mark["at"]}
                          for (uid, rid), mark in self.reads.items()],
                "sessions": len(self.sessions),
            }

    def summary(self):
        with self.lock:
            return {
                "orgs": [self.orgs[oid]["name"] for oid in self.org_order],
                "rooms": sum(1 for r in self.rooms.values() if r["listed"]),
                "messages": len(self.messages),
                "work": len(self.work),
            }
