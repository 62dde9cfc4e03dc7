#pragma once
// A JSON value read from a suggestion payload, with look-ups by path such as s[0], result[2][0],
// result.tag[3].value or [1][4].
//
// Payloads are script literals, not strict JSON: member names without quotes, single-quoted
// strings, \xXX, \uXXXX (surrogate pairs joined) and legacy octal escapes, hex numbers, NaN,
// Infinity, undefined, trailing commas and array holes, comments. They are read by our own
// literal parser; nothing is ever evaluated. Nesting deeper than kJsonMaxDepth fails the parse.
//
// Texts pass in and out as GBK; inside, strings are UTF-8. A character that GBK cannot hold comes
// out as "?", and a string's text ends at a NUL it holds (JSON text escapes it). Failures are
// values: Missing, "", 0.
//
// Paths: a first step that is a member name ([A-Za-z_$] then also digits; any non-ASCII
// character counts as a letter) or an index [n], then steps .name or [n]; ["name"] and ['name']
// also work. The empty path is the value itself. Arrays and strings answer .length. The value is
// also called kJsonRootName: "da", "da.x" or "da[n]" name it when they lead to something that is
// not null; otherwise a path that starts so is a member of the value like any other.

#include "text/text.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace zelkor {

inline constexpr int kJsonMaxDepth = 512;
inline constexpr std::string_view kJsonRootName = "da";

// What a path leads to; Missing also for null and undefined.
enum class JsonType { Missing, Boolean, Number, String, Array, Object };

class JsonValue;

// Members in the order they were first read; a repeated name keeps its place and takes the new value.
class JsonObject {
  public:
    using Member = std::pair<std::string, JsonValue>;

    JsonObject();
    JsonObject(const JsonObject& other);
    JsonObject(JsonObject&&) noexcept;
    JsonObject& operator=(const JsonObject& other);
    JsonObject& operator=(JsonObject&&) noexcept;
    ~JsonObject();

    const std::vector<Member>& members() const { return m_members; }
    const JsonValue* find(std::string_view name) const;
    void put(std::string name, JsonValue value);

  private:
    // Small objects are searched in order; large ones (a hostile payload with many names would
    // otherwise make reading quadratic) get an index.
    static constexpr std::size_t kIndexFrom = 24;
    std::vector<Member> m_members;
    mutable std::unique_ptr<std::unordered_map<std::string_view, std::size_t>> m_index; // a cache
    void buildIndex() const;
};

class JsonValue {
  public:
    struct Undefined {};
    struct Null {};
    using Array = std::vector<JsonValue>;

    JsonValue() = default; // undefined
    explicit JsonValue(Null) : m_v(Null{}) {}
    explicit JsonValue(bool b) : m_v(b) {}
    explicit JsonValue(double d) : m_v(d) {}
    explicit JsonValue(std::string utf8) : m_v(std::move(utf8)) {}
    explicit JsonValue(Array a) : m_v(std::move(a)) {}
    explicit JsonValue(JsonObject o) : m_v(std::move(o)) {}
    JsonValue(const char*) = delete; // would be taken for a bool

    // Reads text (GBK) as one literal; ";", white space and comments may follow it. A text that
    // does not read gives null.
    static JsonValue parse(std::string_view text);

    // Look-ups by path (see above).
    JsonType type(std::string_view path = {}) const;
    // A string as it is; a number in its shortest round-trip form (1, 1.5, 1e+21, 1e-7); true or
    // false; an array as its elements' texts joined by ","; an object as "[object Object]".
    // "" for a path to nothing, to null or undefined.
    Text text(std::string_view path = {}) const;
    // The same, telling whether a character GBK cannot hold (or a lone surrogate) was lost on the way.
    Text text(std::string_view path, bool& lost) const;
    // The value's JSON text instead; "" for a path to nothing, to null or undefined.
    Text json(std::string_view path = {}) const;
    // The length of the array at path, else 0.
    int count(std::string_view path = {}) const;

    // This value itself.
    bool isUndefined() const { return std::holds_alternative<Undefined>(m_v); }
    bool isNullish() const { return m_v.index() <= 1; }
    bool isContainer() const { return m_v.index() >= 5; }
    const bool* boolean() const { return std::get_if<bool>(&m_v); }
    const double* number() const { return std::get_if<double>(&m_v); }
    const std::string* string() const { return std::get_if<std::string>(&m_v); }
    const Array* array() const { return std::get_if<Array>(&m_v); }
    const JsonObject* object() const { return std::get_if<JsonObject>(&m_v); }

  private:
    std::variant<Undefined, Null, bool, double, std::string, Array, JsonObject> m_v;
};

} // namespace zelkor
