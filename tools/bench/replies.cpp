#include "replies.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed) {}
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    size_t pick(size_t n) { return next() % n; }
    bool chance(int percent) { return static_cast<int>(next() % 100) < percent; }
};

const char* const senders[] = {
    u8"Анна Смирнова", u8"Игорь Павлов", u8"Мария Кузнецова", u8"Олег Орлов",
    u8"Елена Васильева", u8"Дмитрий Соколов", u8"ООО «Северный ветер»", u8"Клиент: Пётр Иванов",
};

const char* const sentences[] = {
    u8"Добрый день! Подскажите, пожалуйста, когда будет готов заказ?",
    u8"Проверили накладную, расхождение в две позиции.",
    u8"Курьер приедет завтра с 10:00 до 14:00, просьба быть на месте.",
    u8"Спасибо, получили.",
    u8"Передаю обращение на вторую линию, там помогут быстрее.",
    u8"Клиент просит перезвонить после обеда, номер есть в карточке.",
    u8"Счёт № 4518 оплачен, прикладываю платёжное поручение.",
    u8"У нас не открывается личный кабинет: пишет \"сессия истекла\".",
    u8"Уточните, пожалуйста, адрес доставки и контактное лицо.",
    u8"Сделали возврат, деньги придут в течение 3–5 рабочих дней.",
    u8"Коллеги, напоминаю про отчёт за неделю — до пятницы.",
    u8"Ошибка воспроизводится только в Internet-магазине, в приложении всё в порядке.",
    u8"Согласовали с руководителем, можно отгружать.",
    u8"Нет, это другая партия. Проверьте серийные номера ещё раз.",
    u8"Понял, беру в работу.",
    u8"Добавил скриншоты в тикет; см. вложение.\nЕсли нужно, пришлю логи.",
};

const char* const emojis[] = {u8"👍", u8"❤", u8"😂", u8"🔥", u8"✅"};

const char* const fileNames[] = {
    u8"накладная_4518.pdf", u8"скриншот ошибки.png", u8"договор поставки.docx", u8"отчёт за неделю.xlsx",
};

const char* const roomTitles[] = {
    u8"Общий чат поддержки", u8"Объявления", u8"Архив 2023", u8"Клиент: ООО «Ромашка»",
    u8"Доставка и склад", u8"Вторая линия", u8"Бухгалтерия", u8"Клиент: ИП Сидоров",
};

const char* const roomKinds[] = {"room", "channel", "archive", "client"};

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out + "\"";
}

std::string isoTime(int minuteOfPage) {
    char text[32];
    int day = 1 + minuteOfPage / 1440 % 28;
    int hour = minuteOfPage / 60 % 24;
    int minute = minuteOfPage % 60;
    std::snprintf(text, sizeof text, "2024-05-%02dT%02d:%02d:%02dZ", day, hour, minute, (minuteOfPage * 7) % 60);
    return text;
}

std::string messageText(Random& random) {
    std::string text = sentences[random.pick(sizeof sentences / sizeof *sentences)];
    int more = static_cast<int>(random.pick(4));
    for (int k = 0; k < more; ++k) {
        text += ' ';
        text += sentences[random.pick(sizeof sentences / sizeof *sentences)];
    }
    return text;
}

void member(std::string& out, const char* key, const std::string& jsonValue, bool first = false) {
    if (!first) out += ", ";
    out += '"';
    out += key;
    out += "\": ";
    out += jsonValue;
}

const char* flag(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string historyReply(int count, int variant) {
    Random random(20240501u + static_cast<uint32_t>(count));
    std::vector<std::string> texts;
    std::string out = "{\"items\": [";
    for (int i = 0; i < count; ++i) {
        char id[32];
        std::snprintf(id, sizeof id, "m-%06d", 100000 + i);
        const size_t sender = random.pick(sizeof senders / sizeof *senders);
        const bool own = sender == 0;
        const bool deleted = random.chance(4);
        const bool pinned = !deleted && random.chance(3);
        const bool edited = !deleted && random.chance(10);
        const bool reply = !deleted && i > 0 && random.chance(20);
        const bool forwarded = !deleted && !reply && random.chance(5);
        const bool file = !deleted && random.chance(6);
        std::string text = deleted ? std::string() : messageText(random);
        if (i == count - 1 && variant != 0) text += u8" (исправлено " + std::to_string(variant) + ")";
        texts.push_back(text);

        if (i > 0) out += ", ";
        out += "{";
        member(out, "id", quoted(id), true);
        member(out, "roomId", "\"room-general\"");
        member(out, "createdAt", quoted(isoTime(540 + i * 3)));
        member(out, "senderId", quoted("u-" + std::to_string(sender + 1)));
        member(out, "senderName", quoted(senders[sender]));
        member(out, "text", quoted(text));
        member(out, "editedAt", edited ? quoted(isoTime(541 + i * 3)) : std::string("\"\""));
        member(out, "deleted", flag(deleted));
        member(out, "pinned", flag(pinned));
        std::string reactions = "[";
        if (!deleted && random.chance(25)) {
            int n = 1 + static_cast<int>(random.pick(3));
            for (int k = 0; k < n; ++k) {
                if (k > 0) reactions += ", ";
                reactions += "{\"emoji\": " + quoted(emojis[(k + i) % 5]) + ", \"count\": " +
                             std::to_string(1 + random.pick(6)) + ", \"mine\": " + flag(random.chance(30)) + "}";
            }
        }
        member(out, "reactions", reactions + "]");
        if (reply) {
            size_t target = random.pick(static_cast<size_t>(i));
            char replyId[32];
            std::snprintf(replyId, sizeof replyId, "m-%06d", 100000 + static_cast<int>(target));
            member(out, "replyId", quoted(replyId));
            member(out, "replyText", quoted(texts[target]));
            member(out, "replySenderName", quoted(senders[random.pick(sizeof senders / sizeof *senders)]));
            member(out, "replyDeleted", flag(texts[target].empty()));
        } else {
            member(out, "replyId", "\"\"");
            member(out, "replyText", "\"\"");
            member(out, "replySenderName", "\"\"");
            member(out, "replyDeleted", "false");
        }
        member(out, "forwardedName", forwarded ? quoted(senders[random.pick(8)]) : std::string("\"\""));
        if (file) {
            member(out, "fileId", quoted("f-" + std::to_string(7000 + i)));
            member(out, "fileName", quoted(fileNames[random.pick(4)]));
            member(out, "fileSize", std::to_string(10000 + random.pick(900000)));
            member(out, "fileExpired", flag(random.chance(20)));
        } else {
            member(out, "fileId", "\"\"");
            member(out, "fileName", "\"\"");
            member(out, "fileSize", "0");
            member(out, "fileExpired", "false");
        }
        member(out, "canReply", flag(!deleted));
        member(out, "canEdit", flag(!deleted && own && !file && !forwarded));
        member(out, "canForward", flag(!deleted));
        member(out, "canReact", flag(!deleted));
        member(out, "canPin", flag(!deleted));
        member(out, "canDelete", flag(!deleted));
        out += "}";
    }
    out += "], \"page\": {\"nextBefore\": \"bWVzc2FnZXM6bS0xMDAwMDA=\", \"size\": " + std::to_string(count) +
           "}, \"canWrite\": true, \"room\": {\"id\": \"room-general\", \"title\": " + quoted(roomTitles[0]) +
           ", \"kind\": \"room\", \"canWrite\": true}}";
    return out;
}

std::string roomsReply(int count, int variant) {
    Random random(7u);
    std::string out = "[";
    for (int i = 0; i < count; ++i) {
        if (i > 0) out += ", ";
        out += "{";
        member(out, "id", quoted("room-" + std::to_string(1000 + i)), true);
        member(out, "orgId", "\"org-north\"");
        std::string title = std::string(roomTitles[random.pick(8)]) + " " + std::to_string(i + 1);
        if (i == count - 1 && variant != 0) title += u8" (изменено " + std::to_string(variant) + ")";
        member(out, "title", quoted(title));
        member(out, "kind", quoted(roomKinds[random.pick(4)]));
        member(out, "canWrite", flag(random.chance(80)));
        member(out, "unread", std::to_string(random.pick(40)));
        member(out, "lastMessageAt", quoted(isoTime(i * 17)));
        out += "}";
    }
    return out + "]";
}

std::string casesReply(int count) {
    static const char* const statuses[] = {"queued", "assigned", "working", "waiting", "done"};
    Random random(11u);
    std::string out = "{\"cases\": [";
    for (int i = 0; i < count; ++i) {
        if (i > 0) out += ", ";
        out += "{";
        member(out, "id", quoted("case-" + std::to_string(1000 + i)), true);
        member(out, "subject", quoted(std::string(roomTitles[random.pick(8)]) + u8": обращение " + std::to_string(i + 1)));
        member(out, "roomId", quoted("room-case-" + std::to_string(1000 + i)));
        member(out, "kind", "\"case\"");
        member(out, "status", quoted(statuses[random.pick(5)]));
        member(out, "version", std::to_string(1 + random.pick(9)));
        member(out, "assigneeName", quoted(u8"Анна Смирнова"));
        member(out, "lineName", quoted(u8"Первая линия"));
        member(out, "updatedAt", quoted(isoTime(i * 13)));
        out += "}";
    }
    return out + "], \"tickets\": []}";
}

std::string worstReply() {
    std::string out = "[";
    for (int i = 0; i < 32767; ++i) out += i ? ",[]" : "[]";
    return out + "]";
}
