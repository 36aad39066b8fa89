"""The "demo" data set: three organisations to show the client to an operator.

Logins: "operator" (administrator of every organisation) and "member"
(a member of two), both with the password "kesta"; more staff exist as
senders and assignees.
"""
from seed import (file, member, message, minutes_before, new_seed, org, room, tiny_png, user, work)

VETER = "org-veter"
APTEKA = "org-apteka"
TEHNO = "org-tehno"

OPERATOR = "u-operator"
MEMBER = "u-member"
KUZNETSOVA = "u-kuznetsova"
ORLOV = "u-orlov"
VASILIEVA = "u-vasilieva"
SOKOLOV = "u-sokolov"

CUSTOMERS = ["Ольга Николаева (склад Подольск)", "Сергей Белов (логистика)", "Татьяна Романова (бухгалтерия)",
             "Алексей Григорьев (отдел закупок)", "Наталья Фёдорова (филиал Тверь)"]

# Topics and lines of the long general chat; numbers and places vary so that
# the history reads as different days of work rather than one loop.
CUSTOMER_LINES = [
    "Добрый день! Заказ №{n} до сих пор в статусе «Собирается», хотя отгрузка была обещана вчера.",
    "Подскажите, пожалуйста, можно ли перенести доставку по заказу №{n} на пятницу?",
    "Водитель не может найти въезд на склад в {city}. Передайте ему, пожалуйста, схему проезда.",
    "В накладной по заказу №{n} неверно указано количество паллет: 12 вместо 14.",
    "Нам нужен акт сверки за прошлый месяц. Куда направить запрос?",
    "Личный кабинет не открывается, пишет «Сеанс истёк». Пароль меняли на прошлой неделе.",
    "Груз по заказу №{n} пришёл с повреждённой упаковкой, фото приложим отдельно.",
    "Спасибо, всё получили. Вопрос закрыт.",
    "Можно ли добавить в заказ №{n} ещё две позиции, пока он не отгружен?",
    "Почему в счёте появилась строка «Хранение сверх нормы»? Раньше её не было.",
    "Когда ждать ответа по претензии к заказу №{n}?",
    "Просим выставить счёт на предоплату для нового договора.",
]
STAFF_LINES = [
    "Здравствуйте! Проверяю заказ №{n}, вернусь с ответом в течение 15 минут.",
    "Заказ №{n} передан в отгрузку, машина выйдет сегодня до 18:00.",
    "Перенос возможен, оформил заявку на пятницу, интервал доставки 10:00–14:00.",
    "Схему проезда к складу в {city} отправил водителю в сообщении и по СМС.",
    "Исправленная накладная будет готова завтра утром, пришлю сюда.",
    "Акт сверки формирует бухгалтерия, срок — три рабочих дня. Запрос уже передал.",
    "Сбросил сеанс в личном кабинете, попробуйте войти снова.",
    "Претензию зарегистрировали, ответ дадим в течение пяти рабочих дней.",
    "Позиции добавлены, сумма заказа пересчитана.",
    "Строка «Хранение сверх нормы» появляется, если груз лежит на складе дольше 10 дней. Подробности в договоре, п. 4.2.",
    "Коллеги, по заказу №{n} нужен ответ от второй линии, завёл обращение.",
    "Счёт на предоплату выставлен, ищите его в личном кабинете в разделе «Документы».",
]
CITIES = ["Подольске", "Твери", "Химках", "Туле", "Калуге", "Рязани"]


def general_chat(seed, now):
    """140 messages: five pages of history, with replies, edits, pins and reactions."""
    rid = "room-veter-general"
    staff = [OPERATOR, KUZNETSOVA, ORLOV, MEMBER]
    count = 140
    ids = []
    for i in range(count):
        mid = "msg-veter-%03d" % (i + 1)
        at = minutes_before(now, (count - i) * 47 + 30)
        n = 48210 + (i * 37) % 900
        city = CITIES[i % len(CITIES)]
        extra = {}
        if i % 2 == 0:
            text = CUSTOMER_LINES[(i // 2) % len(CUSTOMER_LINES)].format(n=n, city=city)
            sender, name = "", CUSTOMERS[(i // 2) % len(CUSTOMERS)]
        else:
            text = STAFF_LINES[(i // 2) % len(STAFF_LINES)].format(n=n, city=city)
            sender, name = staff[(i // 2) % len(staff)], ""
            extra["replyId"] = ids[-1] if i % 6 == 1 else ""
        if i % 11 == 5:
            extra["edited"] = 3
        if i % 9 == 2:
            extra["reactions"] = [("👍", [OPERATOR, KUZNETSOVA]), ("✅", [ORLOV])]
        elif i % 13 == 7:
            extra["reactions"] = [("👀", [MEMBER])]
        if i in (3, 97):
            extra["pinned"] = True
        if i == 60:
            # The next staff message answers it, so the demo shows a reply to a deleted message.
            extra["deleted"] = True
        message(seed, mid, rid, at, text, sender, name, **extra)
        ids.append(mid)
    message(seed, "msg-veter-141", rid, minutes_before(now, 25),
            "Напоминаю: с понедельника склад в Подольске принимает машины с 8:00.", OPERATOR,
            pinned=True, reactions=[("👍", [KUZNETSOVA, ORLOV, MEMBER])])
    message(seed, "msg-veter-142", rid, minutes_before(now, 12),
            "Можно уточнить, это касается и субботы?", "", CUSTOMERS[0], replyId="msg-veter-141")
    message(seed, "msg-veter-143", rid, minutes_before(now, 9),
            "Нет, по субботам приём как раньше, с 10:00.", KUZNETSOVA, replyId="msg-veter-142")
    message(seed, "msg-veter-144", rid, minutes_before(now, 4),
            "Файл с графиком приёма на следующую неделю.", KUZNETSOVA, fileId="file-schedule")


def build(now):
    seed = new_seed()
    user(seed, OPERATOR, "operator", "Анна Смирнова")
    user(seed, MEMBER, "member", "Игорь Павлов")
    user(seed, KUZNETSOVA, "kuznetsova", "Мария Кузнецова")
    user(seed, ORLOV, "orlov", "Дмитрий Орлов")
    user(seed, VASILIEVA, "vasilieva", "Елена Васильева")
    user(seed, SOKOLOV, "sokolov", "Павел Соколов")

    org(seed, VETER, "ООО «Северный ветер»")
    org(seed, APTEKA, "Сеть аптек «Здоровье рядом»")
    org(seed, TEHNO, "ТехноСервис Плюс")
    for oid in (VETER, APTEKA, TEHNO):
        member(seed, OPERATOR, oid, "admin")
    member(seed, MEMBER, VETER, "member")
    member(seed, MEMBER, APTEKA, "member")
    member(seed, KUZNETSOVA, VETER, "admin")
    member(seed, ORLOV, VETER, "member")
    member(seed, ORLOV, TEHNO, "member")
    member(seed, VASILIEVA, APTEKA, "member")
    member(seed, SOKOLOV, APTEKA, "admin")
    member(seed, SOKOLOV, TEHNO, "member")

    seed["lines"] = [
        {"id": "line-first", "name": "Первая линия"},
        {"id": "line-tech", "name": "Вторая линия (техническая)"},
        {"id": "line-billing", "name": "Биллинг и договоры"},
        {"id": "line-key", "name": "Ключевые клиенты"},
    ]

    # --- «Северный ветер» -------------------------------------------------
    room(seed, "room-veter-general", VETER, "Общий чат поддержки", kind="group", moderators=[ORLOV])
    room(seed, "room-veter-duty", VETER, "Дежурная смена", kind="team")
    room(seed, "room-veter-news", VETER, "Объявления", kind="channel", write="admins")
    room(seed, "room-veter-client", VETER, "Клиент: склад в Подольске", kind="client")
    room(seed, "room-veter-archive", VETER, "Архив 2023", kind="archive", write="none")

    file(seed, "file-schedule", VETER, "room-veter-general", "График приёма машин.csv",
         "День;Начало;Конец\nПонедельник;08:00;20:00\nВторник;08:00;20:00\nСреда;08:00;20:00\n"
         "Четверг;08:00;20:00\nПятница;08:00;19:00\nСуббота;10:00;16:00\n".encode("utf-8"))
    general_chat(seed, now)

    duty = [
        (OPERATOR, "Доброе утро, смена началась. В очереди 7 обращений, два срочных."),
        (ORLOV, "Беру срочные по Подольску."),
        (KUZNETSOVA, "Я на второй линии до 14:00, потом на обучении."),
        (MEMBER, "Вижу рост обращений по личному кабинету — похоже на вчерашнее обновление."),
        (OPERATOR, "Завела заявку на разработку, ссылку пришлю сюда."),
        (ORLOV, "Срочные закрыл, одно ожидает ответа клиента."),
        (MEMBER, "Клиент из Твери просит перезвонить после обеда."),
        (KUZNETSOVA, "Перезвоню сама, у меня его история."),
        (OPERATOR, "Напоминаю про отчёт по смене до 19:00."),
        (MEMBER, "Отчёт отправлен."),
    ]
    for i, (sender, text) in enumerate(duty):
        message(seed, "msg-duty-%02d" % (i + 1), "room-veter-duty", minutes_before(now, 600 - i * 55), text,
                sender, reactions=[("👍", [OPERATOR])] if i == 4 else [])

    message(seed, "msg-news-01", "room-veter-news", minutes_before(now, 4000),
            "С 1 числа меняется график работы второй линии: 8:00–22:00 без выходных.", OPERATOR, pinned=True)
    message(seed, "msg-news-02", "room-veter-news", minutes_before(now, 1500),
            "Обновлены шаблоны ответов по возвратам. Пожалуйста, используйте новую версию.", KUZNETSOVA,
            reactions=[("👀", [MEMBER, ORLOV])])
    message(seed, "msg-news-03", "room-veter-news", minutes_before(now, 200),
            "Плановые работы на сервере в субботу с 02:00 до 04:00.", OPERATOR)

    file(seed, "file-photo", VETER, "room-veter-client", "Фото упаковки.png", tiny_png())
    file(seed, "file-scan-old", VETER, "room-veter-client", "Скан накладной (март).jpg", expired=True,
         size=245760)
    file(seed, "file-act", VETER, "room-veter-client", "Акт сверки за квартал.txt",
         ("Акт сверки взаимных расчётов\nООО «Северный ветер» — склад Подольск\n"
          "Сальдо на начало периода: 0,00\nОборот: 1 245 300,00\nСальдо на конец периода: 18 400,00\n")
         .encode("utf-8"))
    client = [
        ("", CUSTOMERS[0], "Добрый день! Отправляю скан накладной за март, как просили.", {"fileId": "file-scan-old"}),
        (ORLOV, "", "Спасибо, получили.", {}),
        ("", CUSTOMERS[0], "Сегодня пришла партия с повреждённой упаковкой, фото ниже.", {}),
        ("", CUSTOMERS[0], "Фото упаковки", {"fileId": "file-photo"}),
        (OPERATOR, "", "Вижу повреждения, оформляю претензию перевозчику.", {"replyId": "msg-client-04"}),
        (OPERATOR, "", "Акт сверки за квартал во вложении.", {"fileId": "file-act", "pinned": True}),
        ("", CUSTOMERS[0], "Спасибо! Расхождений нет.", {"reactions": [("✅", [OPERATOR])]}),
        (MEMBER, "", "Претензия зарегистрирована под номером П-2231.", {"edited": 2}),
    ]
    for i, (sender, name, text, extra) in enumerate(client):
        message(seed, "msg-client-%02d" % (i + 1), "room-veter-client", minutes_before(now, 3000 - i * 300),
                text, sender, name, **extra)
    message(seed, "msg-client-09", "room-veter-client", minutes_before(now, 500),
            "Напоминаю: с понедельника склад в Подольске принимает машины с 8:00.", OPERATOR,
            forwardedName="Анна Смирнова")

    for i, text in enumerate(["Итоги года: закрыто 12 480 обращений.", "Архив переписки перенесён сюда.",
                              "Раздел доступен только для чтения."]):
        message(seed, "msg-archive-%02d" % (i + 1), "room-veter-archive", minutes_before(now, 90000 - i * 60),
                text, OPERATOR)

    statuses = [
        ("case-veter-1", "Не приходит СМС с кодом входа", "queued", "", "line-first"),
        ("case-veter-2", "Повреждённая упаковка, партия 14.05", "assigned", ORLOV, "line-first"),
        ("case-veter-3", "Неверное количество паллет в накладной", "working", OPERATOR, "line-first"),
        ("case-veter-4", "Перенос доставки по заказу 48562", "waiting", MEMBER, "line-first"),
        ("case-veter-5", "Акт сверки за квартал", "done", KUZNETSOVA, "line-billing"),
        ("case-veter-6", "Смена контактного лица", "closed", OPERATOR, "line-key"),
        ("case-veter-7", "Дубль обращения о доставке", "cancelled", "", "line-first"),
    ]
    for i, (wid, subject, status, assignee, line) in enumerate(statuses):
        at = minutes_before(now, 9000 - i * 900)
        rid = work(seed, wid, "case", VETER, subject, status, at, line, assignee, version=1 + i,
                   created_by=OPERATOR)
        message(seed, wid + "-m1", rid, at, "Описание: " + subject + ". Клиент ждёт ответа.", "",
                CUSTOMERS[i % len(CUSTOMERS)])
        if assignee:
            message(seed, wid + "-m2", rid, minutes_before(now, 8500 - i * 900),
                    "Взял в работу, уточняю детали.", assignee)
    tickets = [
        ("ticket-veter-1", "Ошибка «Сеанс истёк» в личном кабинете", "queued", "", "line-tech", ""),
        ("ticket-veter-2", "Претензия перевозчику по партии 14.05", "assigned", ORLOV, "line-first", "case-veter-2"),
        ("ticket-veter-3", "Исправить накладную 48562", "working", OPERATOR, "line-billing", "case-veter-3"),
        ("ticket-veter-4", "Доступ к отчётам для филиала Тверь", "waiting", MEMBER, "line-tech", ""),
        ("ticket-veter-5", "Выгрузка актов сверки", "done", KUZNETSOVA, "line-billing", "case-veter-5"),
        ("ticket-veter-6", "Обновить карточку клиента", "closed", OPERATOR, "line-key", ""),
        ("ticket-veter-7", "Повторная выгрузка за март", "cancelled", "", "line-billing", ""),
    ]
    for i, (wid, subject, status, assignee, line, case_id) in enumerate(tickets):
        at = minutes_before(now, 8000 - i * 800)
        rid = work(seed, wid, "ticket", VETER, subject, status, at, line, assignee, version=2 + i,
                   case_id=case_id, created_by=OPERATOR)
        message(seed, wid + "-m1", rid, at, "Заявка: " + subject + ".", OPERATOR)
        if assignee:
            message(seed, wid + "-m2", rid, minutes_before(now, 7600 - i * 800),
                    "Принято, срок — до конца недели.", assignee, reactions=[("👍", [OPERATOR])])
    for entry in seed["work"]:
        for ticket in tickets:
            if ticket[5] and entry["id"] == ticket[5]:
                entry["ticketId"] = ticket[0]
    file(seed, "file-ticket-log", VETER, "room-ticket-veter-1", "Журнал ошибок входа.txt",
         "2024-05-01 09:30:12 ERROR session expired for user 1043\n"
         "2024-05-01 09:31:40 ERROR session expired for user 2210\n".encode("utf-8"), )
    message(seed, "ticket-veter-1-m2", "room-ticket-veter-1", minutes_before(now, 7900),
            "Журнал ошибок во вложении.", MEMBER, fileId="file-ticket-log")

    # --- «Здоровье рядом» -------------------------------------------------
    room(seed, "room-apteka-general", APTEKA, "Поддержка аптек", kind="group")
    room(seed, "room-apteka-kassy", APTEKA, "Кассовое оборудование", kind="team")
    apteka_lines = [
        ("", "Аптека №12 (Лесная)", "Не печатается чек, касса пишет «Нет связи с ОФД»."),
        (VASILIEVA, "", "Проверьте, пожалуйста, подключение к интернету на кассе."),
        ("", "Аптека №12 (Лесная)", "Интернет есть, другие сайты открываются."),
        (SOKOLOV, "", "Перезапустите кассовую программу, мы обновили сертификат."),
        ("", "Аптека №12 (Лесная)", "Заработало, спасибо!"),
        ("", "Аптека №7 (Центральная)", "Когда придёт поставка по заявке 3381?"),
        (MEMBER, "", "Поставка запланирована на четверг, первая половина дня."),
    ]
    for i in range(45):
        sender, name, text = apteka_lines[i % len(apteka_lines)]
        message(seed, "msg-apteka-%03d" % (i + 1), "room-apteka-general", minutes_before(now, 6000 - i * 120),
                text, sender, name, reactions=[("❤️", [VASILIEVA])] if i % 10 == 4 else [])
    for i, (sender, text) in enumerate([(SOKOLOV, "Список касс с устаревшей прошивкой во вложении."),
                                        (VASILIEVA, "Обновила кассы в аптеках №3 и №5."),
                                        (OPERATOR, "Остальные обновим ночью.")]):
        message(seed, "msg-kassy-%02d" % (i + 1), "room-apteka-kassy", minutes_before(now, 700 - i * 60),
                text, sender, fileId="file-kassy" if i == 0 else "")
    file(seed, "file-kassy", APTEKA, "room-apteka-kassy", "Кассы для обновления.csv",
         "Аптека;Касса;Прошивка\n№3;1;2.1.4\n№5;2;2.1.4\n№9;1;2.0.9\n".encode("utf-8"))
    for i, (wid, subject, status, assignee) in enumerate([
            ("case-apteka-1", "Касса не печатает чеки", "working", VASILIEVA),
            ("case-apteka-2", "Поставка по заявке 3381", "queued", "")]):
        at = minutes_before(now, 3000 - i * 500)
        rid = work(seed, wid, "case", APTEKA, subject, status, at, "line-tech", assignee, version=3)
        message(seed, wid + "-m1", rid, at, subject + ". Просим помочь.", "", "Аптека №12 (Лесная)")
    work(seed, "ticket-apteka-1", "ticket", APTEKA, "Обновить прошивку касс", "assigned",
         minutes_before(now, 2000), "line-tech", SOKOLOV, version=2)

    # --- «ТехноСервис Плюс» -----------------------------------------------
    room(seed, "room-tehno-general", TEHNO, "Общий чат", kind="group")
    room(seed, "room-tehno-empty", TEHNO, "Новый канал", kind="channel")
    for i, (sender, text) in enumerate([(SOKOLOV, "Коллеги, подключили новую организацию."),
                                        (ORLOV, "Отлично, настрою линии поддержки."),
                                        (OPERATOR, "Договор в силе с понедельника.")]):
        message(seed, "msg-tehno-%02d" % (i + 1), "room-tehno-general", minutes_before(now, 300 - i * 30),
                text, sender)
    return seed


LARGE_ROOMS = 10000
LARGE_CASES = 2000
ROOM_WORDS = ["Склад", "Доставка", "Бухгалтерия", "Филиал", "Клиент", "Возвраты", "Логистика", "Закупки"]


def build_large(now):
    """The demo with a large first organisation: «Северный ветер» holds
    10000 rooms and 2000 cases (its own rooms and cases among them), for the
    benchmarks and for trying the client at that scale."""
    seed = build(now)
    rooms = sum(1 for r in seed["rooms"] if r["org"] == VETER and r["listed"])
    for i in range(LARGE_ROOMS - rooms):
        room(seed, "room-veter-x%05d" % i, VETER, "%s %d" % (ROOM_WORDS[i % len(ROOM_WORDS)], i + 1),
             kind=("group", "team", "client", "channel")[i % 4])
    cases = sum(1 for w in seed["work"] if w["org"] == VETER and w["kind"] == "case")
    for i in range(LARGE_CASES - cases):
        work(seed, "case-veter-x%04d" % i, "case", VETER, "Обращение %d: %s" % (i + 1, ROOM_WORDS[i % 8].lower()),
             ("queued", "assigned", "working", "waiting", "done")[i % 5], minutes_before(now, 20000 + i),
             "line-first", (OPERATOR, ORLOV, MEMBER, "")[i % 4] if i % 5 else "", created_by=OPERATOR)
    return seed
