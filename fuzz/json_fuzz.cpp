// Feeds arbitrary bytes to JsonDocument: the first line is a path, the rest (or all of it, when
// there is no line break) a payload. Checks what must hold for any input.
#include "text/json.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

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

    JsonDocument doc;
    check(doc.init(), "init");
    bool ok = doc.parse(payload);
    bool okRaw = JsonDocument().parse(payload, true);
    check(ok == okRaw, "raw and evaluated parse disagree");
    Text json = doc.to_json();
    check(json.find('\0') == Text::npos, "JSON text holds a NUL");
    if (!ok) {
        check(doc.count("") == 0 && doc.get_text("").empty() && !doc.exists(""), "failed parse left a value");
    } else if (json != "null") { // NaN and Infinity write as null
        // JSON text reads back, and after one pass through GBK ("?" may merge two names) it is stable.
        JsonDocument again;
        check(again.parse(json), "JSON text does not read back");
        Text json2 = again.to_json();
        if (json.find('?') == Text::npos) check(json2 == json, "JSON text changed on reading back");
        JsonDocument third;
        check(third.parse(json2) && third.to_json() == json2, "JSON text not stable");
    }

    // Reads never change the document and never produce a NUL.
    std::vector<Text> list;
    Text text = doc.get_text(path);
    check(text.find('\0') == Text::npos, "get_text holds a NUL");
    doc.get_text(path, true);
    check(doc.count(path) >= 0, "negative count");
    int type = doc.type_of(path);
    check(type == 0 || type == 1 || type == 2 || type == 4 || type == 5 || type == 6, "type_of");
    check(doc.exists(path) == (type != 0), "exists and type_of disagree");
    doc.member_names(list, path);
    doc.leaf_values(list, path, true);
    doc.item_text(0, path, true);
    doc.get_number(path);
    JsonDocument sub = doc.get_document(path);
    check(sub.exists("") == doc.exists(path), "get_document lost the value");
    check(doc.to_json() == json, "a read changed the document");

    // Writes with the payload as the value: no crash, the text stays readable.
    doc.set_value(path, payload, true);
    // A string stored as text reads back as it was, backslashes included.
    if (doc.set_value(path, payload, false) && utf8_to_gbk(gbk_to_utf8(payload)) == payload)
        check(doc.get_text(path) == payload, "set_value text did not read back");
    doc.array_add(payload, path, true, size & 1);
    doc.set_item(static_cast<int>(size % 4), path, payload, true);
    doc.remove_item(0, path);
    doc.remove(path);
    check(doc.to_json().find('\0') == Text::npos, "JSON text holds a NUL after writes");
    return 0;
}
