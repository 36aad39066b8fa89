// A copy of jsmn's functions of this file's own (static), compiled without
// parent links; this file sees nothing of the client's JSON layer, whose
// tokens have five integers.
#define JSMN_STATIC
#include <jsmn.h>

#include "jsmn_floor.h"

#include <vector>

int jsmnWithoutParentLinks(const std::string& text) {
    static std::vector<jsmntok_t> table(2097152);
    jsmn_parser parser;
    jsmn_init(&parser);
    return jsmn_parse(&parser, text.data(), text.size(), table.data(), static_cast<unsigned>(table.size()));
}
