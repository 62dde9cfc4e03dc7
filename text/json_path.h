#pragma once
// Paths into a JsonValue (the grammar is in json.h).

#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

class JsonValue;

namespace json {

// The value a GBK path leads to, or nullptr. A computed value (a length) is put in scratch.
const JsonValue* lookUp(const JsonValue& root, std::string_view gbkPath, JsonValue& scratch);

} // namespace json
} // namespace zelkor
