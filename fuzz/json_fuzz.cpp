// Feeds arbitrary bytes to JsonValue: the first line is a path, the rest (or all of it, when
// there is no line break) a payload. Checks what must hold for any input.
#include "text/json.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zelkor;
    Text input = bytes_to_text(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string_view path, payload = input;
    if (size_t nl = input.find('\n'); nl != Text::npos && nl < 200) {
        path = std::string_view(input).substr(0, nl);
        payload = std::string_view(input).substr(nl + 1);
    }

    const JsonValue value = JsonValue::parse(payload);
    const Text json = value.json();
    check(json.find('\0') == Text::npos, "JSON text holds a NUL");
    if (value.type() == JsonType::Missing) {
        check(value.count("") == 0 && value.text("").empty() && json.empty(), "failed parse left a value");
    } else if (json != "null") { // NaN and Infinity write as null
        // JSON text reads back, and after one pass through GBK ("?" may merge two names) it is stable.
        const JsonValue again = JsonValue::parse(json);
        check(again.type() != JsonType::Missing, "JSON text does not read back");
        const Text json2 = again.json();
        if (json.find('?') == Text::npos) check(json2 == json, "JSON text changed on reading back");
        check(JsonValue::parse(json2).json() == json2, "JSON text not stable");
    }

    // Look-ups never produce a NUL and agree with each other.
    const Text text = value.text(path);
    check(text.find('\0') == Text::npos, "text holds a NUL");
    const JsonType type = value.type(path);
    check(value.count(path) >= 0, "negative count");
    check(value.count(path) == 0 || type == JsonType::Array, "count of something not an array");
    check(type != JsonType::Missing || (text.empty() && value.json(path).empty()), "text of nothing");
    check(value.json() == json, "a look-up changed the value");
    return 0;
}
