// The sign-in document of standard input: at most 4096 bytes, as the one
// read delivers them, read for a scenario chosen by the input. The input
// buffer must come back all zeros, every buffer the reader reports must be
// all zeros, and no block freed while it reads may still hold the password,
// neither as the bytes of the document nor as the decoded text.
#include "fuzz_support.h"

#include "app/signin_input.h"
#include "text/secret.h"

#include <sanitizer/allocator_interface.h>
#include <sanitizer/common_interface_defs.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// What the free hook looks for, set while the reader runs.
struct Watch {
    bool active = false;
    std::string bytes;    // the password as the document spells it
    std::wstring units;   // the password as the reader decodes it
};
Watch watch;

bool holds(const unsigned char* block, size_t size, const void* needle, size_t length) {
    if (length == 0 || length > size) return false;
    const unsigned char* n = static_cast<const unsigned char*>(needle);
    for (size_t i = 0; i + length <= size; ++i)
        if (block[i] == n[0] && std::memcmp(block + i, n, length) == 0) return true;
    return false;
}

void onFree(const volatile void* pointer) {
    if (!watch.active || pointer == nullptr) return;
    const size_t size = __sanitizer_get_allocated_size(pointer);
    const unsigned char* block = const_cast<const unsigned char*>(static_cast<const volatile unsigned char*>(pointer));
    const bool bytes = watch.bytes.size() >= 6 && holds(block, size, watch.bytes.data(), watch.bytes.size());
    const bool units =
        watch.units.size() >= 3 && holds(block, size, watch.units.data(), watch.units.size() * sizeof(wchar_t));
    if (bytes || units) {
        watch.active = false;
        std::fprintf(stderr, "a block freed while reading the sign-in input still holds the password (%s)\n",
                     bytes ? "its bytes" : "its decoded text");
        __sanitizer_print_stack_trace();
        std::abort();
    }
}

// The hooks come in pairs; only the freeing one has work.
void onMalloc(const volatile void*, size_t) {}

size_t reported = 0;
void onReleased(const char* data, size_t size) {
    ++reported;
    for (size_t i = 0; i < size; ++i) FUZZ_CHECK(data[i] == 0);
}

// The password's forms, found by a reading of its own, when the document
// spells them only once (the same bytes as another member's are that
// member's to keep).
void findPassword(const std::string& text) {
    watch.bytes.clear();
    watch.units.clear();
    JsonValue doc;
    if (!parseReply(text, doc) || doc.tokens[0].type != JSMN_OBJECT) return;
    const JsonIndex password = findMember(doc, 0, "password");
    if (password < 0 || doc.tokens[static_cast<size_t>(password)].type != JSMN_STRING) return;
    const JsonToken& t = doc.tokens[static_cast<size_t>(password)];
    std::string bytes = text.substr(static_cast<size_t>(t.start), static_cast<size_t>(t.end - t.start));
    if (text.find(bytes) != static_cast<size_t>(t.start) || text.find(bytes, static_cast<size_t>(t.start) + 1) != std::string::npos)
        return;
    watch.bytes = bytes;
    watch.units = stringAt(doc, password);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (__sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) == 0) fuzzFailure("no free hook", __FILE__, __LINE__);
    signInBufferReleased = onReleased;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t readSize = size < 4096 ? size : 4096;
    if (readSize == 0) return 0;  // nothing read: nothing is applied
    const std::string original(reinterpret_cast<const char*>(data), readSize);
    findPassword(original);
    const uint32_t scenarios = inputHash(data, size);
    std::string input = original;
    reported = 0;
    watch.active = true;
    SignInInput in = readSignInInput(input, scenarios & 1, scenarios & 2, scenarios & 4);
    // The window puts the password into its field, then wipes its copy.
    wipeSecret(in.password);
    watch.active = false;
    FUZZ_CHECK(input.size() == readSize);
    FUZZ_CHECK(input.find_first_not_of('\0') == std::string::npos);
    FUZZ_CHECK(reported >= 1);
    if (!in.valid) {
        FUZZ_CHECK(in.login.empty() && in.password.empty() && in.historyMarker.empty() && in.replyTarget.empty());
    } else {
        if (!(scenarios & 1)) FUZZ_CHECK(in.moderationTarget.empty() && in.moderationRole.empty());
        if (!(scenarios & 2)) FUZZ_CHECK(in.replyTarget.empty() && in.editTarget.empty() && in.forwardRoom.empty());
        if (!(scenarios & 4)) FUZZ_CHECK(in.historyMarker.empty());
    }
    return 0;
}
