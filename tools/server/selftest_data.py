"""The "selftest" data set: fixed accounts and message ids for the client's
self-test modes, plus accounts whose first room makes a self-test fail on
purpose. The ids and the standard-input documents are listed in README.md.

The history probe text is PROBE. It lies in the oldest message of the first
room, so messages added by other runs never move it off the oldest page.
"""
from seed import (file, member, message, minutes_before, new_seed, org, room, user, work)

PROBE = "history fixture probe 7f3a"

ORG = "org-st"
ADMIN = "u-st-admin"
MEMBER = "u-st-member"
PINNER = "u-st-pinner"
CUSTOMER = "Клиент проверки"
MAIN = "st-main"

# Messages of the first room that the self-test modes act on.
REPLY_TARGET = "st-088"
ADMIN_EDIT_TARGET = "st-090"
MEMBER_EDIT_TARGET = "st-091"
ADMIN_MODERATION_TARGET = "st-093"
MEMBER_MODERATION_TARGET = "st-095"
PINNER_MODERATION_TARGET = "st-096"
FORWARD_ROOM = "st-forward"


def filler_room(seed, rid, prefix, count, probe_positions, now, senders):
    """A room of `count` numbered messages; the 1-based positions given carry PROBE."""
    for i in range(1, count + 1):
        text = "Проверочная переписка, сообщение %d из %d" % (i, count)
        if i in probe_positions:
            text = PROBE + " — проверочное сообщение %d" % i
        sender = senders[i % len(senders)]
        message(seed, "%s-%03d" % (prefix, i), rid, minutes_before(now, (count - i) * 10 + 5), text,
                sender if sender.startswith("u-") else "", "" if sender.startswith("u-") else sender)


def main_room(seed, now):
    count = 100
    special = {
        85: (CUSTOMER, "Добрый день! Подскажите статус заказа 1001.", {}),
        86: (ADMIN, "Проверяю, ответ будет в течение часа.", {"replyId": "st-085"}),
        87: (MEMBER, "Заказ 1001 уже у курьера.", {"reactions": [("👍", [ADMIN, PINNER])]}),
        88: (CUSTOMER, "Вопрос клиента для ответа: можно ли изменить адрес доставки?", {}),
        89: (CUSTOMER, "Удалённое сообщение клиента", {"deleted": True}),
        90: (ADMIN, "Черновой текст администратора для правки", {}),
        91: (MEMBER, "Черновой текст участника для правки", {}),
        92: (ADMIN, "Ответ на удалённое сообщение", {"replyId": "st-089"}),
        93: (CUSTOMER, "Сообщение для модерации администратором", {"reactions": [("✅", [MEMBER])]}),
        94: (CUSTOMER, "Скан договора (срок хранения истёк)", {"fileId": "st-file-expired"}),
        95: (MEMBER, "Сообщение участника для модерации", {}),
        96: (PINNER, "Сообщение модератора разговора", {}),
        97: (ADMIN, "Правило разговора: отвечаем клиенту в течение часа.", {"pinned": True, "edited": 5}),
        98: (ADMIN, "Адрес изменить можно до передачи курьеру.", {"replyId": "st-088"}),
        99: (CUSTOMER, "Проверочный файл", {"fileId": "st-file-1"}),
        100: (MEMBER, "Переслано из архива", {"forwardedName": "Архив проверки"}),
    }
    senders = [CUSTOMER, ADMIN, MEMBER, "Архив проверки"]
    for i in range(1, count + 1):
        at = minutes_before(now, (count - i) * 10 + 5)
        if i == 1:
            sender, text, extra = "Архив проверки", PROBE + " — самое старое сообщение разговора", {}
        elif i in special:
            sender, text, extra = special[i]
        else:
            sender, text, extra = senders[i % len(senders)], "Проверочная переписка, сообщение %d" % i, {}
        own = sender.startswith("u-")
        message(seed, "st-%03d" % i, MAIN, at, text, sender if own else "", "" if own else sender, **extra)


def build(now):
    seed = new_seed()
    user(seed, ADMIN, "selftest-admin", "Администратор проверки")
    user(seed, MEMBER, "selftest-member", "Участник проверки")
    user(seed, PINNER, "selftest-pinner", "Модератор проверки")
    user(seed, "u-st-latest", "selftest-latest", "Проверка: метка на новой странице")
    user(seed, "u-st-deep", "selftest-deep", "Проверка: глубокая история")
    user(seed, "u-st-double", "selftest-double", "Проверка: метка дважды")
    user(seed, "u-st-misplaced", "selftest-misplaced", "Проверка: метка не на старейшей странице")

    org(seed, ORG, "Проверочная организация")
    org(seed, "org-st-second", "Вторая проверочная организация")
    org(seed, "org-st-latest", "Проверка: метка на новой странице")
    org(seed, "org-st-deep", "Проверка: глубокая история")
    org(seed, "org-st-double", "Проверка: метка дважды")
    org(seed, "org-st-misplaced", "Проверка: метка не на старейшей странице")
    member(seed, ADMIN, ORG, "admin")
    member(seed, ADMIN, "org-st-second", "admin")
    member(seed, MEMBER, ORG, "member")
    member(seed, MEMBER, "org-st-second", "member")
    member(seed, PINNER, ORG, "member")
    member(seed, "u-st-latest", "org-st-latest", "member")
    member(seed, "u-st-deep", "org-st-deep", "member")
    member(seed, "u-st-double", "org-st-double", "member")
    member(seed, "u-st-misplaced", "org-st-misplaced", "member")

    seed["lines"] = [{"id": "line-first", "name": "Первая линия"},
                     {"id": "line-second", "name": "Вторая линия"}]

    room(seed, MAIN, ORG, "Проверка: основной разговор", moderators=[PINNER])
    room(seed, FORWARD_ROOM, ORG, "Проверка: пересылка")
    room(seed, "st-readonly", ORG, "Проверка: только чтение", kind="channel", write="none")
    room(seed, "st-admins", ORG, "Проверка: объявления", kind="channel", write="admins")
    file(seed, "st-file-1", ORG, MAIN, "Проверочный файл.txt", "Содержимое проверочного файла\n".encode("utf-8"))
    file(seed, "st-file-expired", ORG, MAIN, "Скан договора.pdf", expired=True, size=102400)
    main_room(seed, now)
    message(seed, "st-fwd-1", FORWARD_ROOM, minutes_before(now, 300), "Сюда пересылаются сообщения проверки.", ADMIN)
    message(seed, "st-ro-1", "st-readonly", minutes_before(now, 300), "Разговор только для чтения.", ADMIN)
    message(seed, "st-adm-1", "st-admins", minutes_before(now, 300), "Писать сюда могут администраторы.", ADMIN)

    room(seed, "st2-general", "org-st-second", "Вторая организация: общий разговор")
    message(seed, "st2-001", "st2-general", minutes_before(now, 60), "Разговор второй организации.", ADMIN)

    at = minutes_before(now, 2000)
    rid = work(seed, "st-case-1", "case", ORG, "Проверка: новое обращение", "queued", at, "line-first",
               created_by=MEMBER)
    message(seed, "st-case-1-m1", rid, at, "Описание проверочного обращения.", MEMBER)
    rid = work(seed, "st-case-2", "case", ORG, "Проверка: обращение в работе", "working", at, "line-first",
               assignee=ADMIN, version=3, ticket_id="st-ticket-1", created_by=ADMIN)
    message(seed, "st-case-2-m1", rid, at, "Обращение взято в работу.", ADMIN)
    rid = work(seed, "st-case-3", "case", ORG, "Проверка: выполненное обращение", "done", at, "line-second",
               assignee=MEMBER, version=5, created_by=ADMIN)
    message(seed, "st-case-3-m1", rid, at, "Работа выполнена.", MEMBER)
    rid = work(seed, "st-ticket-1", "ticket", ORG, "Проверка: заявка по обращению", "assigned", at, "line-second",
               assignee=MEMBER, version=2, case_id="st-case-2", created_by=ADMIN)
    message(seed, "st-ticket-1-m1", rid, at, "Заявка создана по обращению.", ADMIN)

    # Accounts whose first room makes the history self-test fail on purpose.
    room(seed, "stl-room", "org-st-latest", "Метка на новой странице")
    filler_room(seed, "stl-room", "stl", 45, {44}, now, ["Клиент", "u-st-latest"])
    room(seed, "stdeep-room", "org-st-deep", "Глубокая история")
    filler_room(seed, "stdeep-room", "stdeep", 400, {1}, now, ["Клиент", "u-st-deep"])
    room(seed, "stdouble-room", "org-st-double", "Метка дважды")
    filler_room(seed, "stdouble-room", "stdouble", 100, {1, 40}, now, ["Клиент", "u-st-double"])
    room(seed, "stmis-room", "org-st-misplaced", "Метка не на старейшей странице")
    filler_room(seed, "stmis-room", "stmis", 100, {50}, now, ["Клиент", "u-st-misplaced"])
    return seed
