#pragma once
// One JSON value held under a root name and read through path expressions such as s[0],
// result[2][0], result.tag[3].value or [1][4].
//
// Payloads are script literals, not strict JSON: member names without quotes, single-quoted
// strings, \xXX, \uXXXX (surrogate pairs joined) and legacy octal escapes, hex numbers, NaN,
// Infinity, undefined, trailing commas and array holes, comments. They are read by our own
// literal parser; nothing is ever evaluated. Nesting deeper than kJsonMaxDepth fails the parse.
//
// Texts pass in and out as GBK; inside, strings are Unicode. A character that GBK cannot hold
// comes out as "?", and a string's text ends at a NUL it holds (JSON text escapes it). Failures are values:
// false, "", 0, an empty list. A read never changes the document.
//
// Paths: a first step that is a member name ([A-Za-z_$] then also digits; any non-ASCII
// character counts as a letter) or an index [n], then steps .name or [n]; ["name"] and ['name']
// also work. The empty path is the value itself. Arrays and strings answer .length. Every
// operation that takes a path resolves it first (see resolve_path).

#include "text/text.h"

#include <memory>
#include <string_view>
#include <vector>

namespace zelkor {

inline constexpr int kJsonMaxDepth = 512;

class JsonDocument {
  public:
    // Values of type_of.
    enum Type { kMissing = 0, kBoolean = 1, kNumber = 2, kObject = 4, kArray = 5, kString = 6, kOther = -1 };

    // Not usable until init() (or parse(), which runs init itself).
    explicit JsonDocument(Text root_name = "da");
    ~JsonDocument();
    JsonDocument(JsonDocument&&) noexcept;
    JsonDocument& operator=(JsonDocument&&) noexcept;
    // A C++ copy would be ambiguous between sharing and duplicating: use copy() or get_document().
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // Releases this document's hold on its value; later reads answer their empty results.
    void destroy();
    // A second document on the same value and root name: each sees the other's changes.
    JsonDocument copy() const;
    // Starts a fresh value, an empty object. The root name must be an identifier (letters, digits,
    // "_" or "$", not starting with a digit); false otherwise, and the document stays unusable.
    bool init();
    bool init(std::string_view root_name);
    const Text& root_name() const { return m_root_name; }

    // Starts afresh (as init), then reads text as one literal; ";", white space and comments may
    // follow it. True when the value read is neither null nor undefined; on any syntax error the
    // value is null. raw is kept for callers of the two-step form: both read the text the same way.
    bool parse(std::string_view text, bool raw = false);
    // The value becomes an empty object.
    bool clear();
    // The whole value as JSON text; "" when it is undefined.
    Text to_json() const;

    // Path resolution: `root`, `root.x` or `root[n]` stay as written when they lead to a non-null
    // value; otherwise the root name is put in front ("[1][4]" -> "da[1][4]", "data[2].name" ->
    // "da.data[2].name", "" -> "da"). True when the resolved path leads to a value that is not null
    // or undefined; `resolved` (optional) receives the resolved path.
    bool resolve_path(std::string_view path, Text* resolved = nullptr) const;
    bool exists(std::string_view path) const { return resolve_path(path); }
    // A Type value.
    int type_of(std::string_view path) const;

    // A string as it is; a number in its shortest round-trip form (1, 1.5, 1e+21, 1e-7); true or
    // false; an array as its elements' texts joined by ","; an object as "[object Object]".
    // as_json gives the value's JSON text instead. "" for a path to nothing, to null or undefined.
    Text get_text(std::string_view path, bool as_json = false) const;
    Text get_json(std::string_view path) const { return get_text(path, true); }
    // The length of the array at path, else 0.
    int count(std::string_view path) const;
    // The value at path as a number: a number as is, a boolean as 1 or 0, a numeric string read as
    // a number; 0 for anything else.
    double get_number(std::string_view path) const;
    // Replaces `list` with the member names of the object at path, in insertion order.
    int member_names(std::vector<Text>& list, std::string_view path) const;
    // Replaces `list` with the texts of the string, number and boolean values directly under path
    // (recursive: at every depth, depth first, in order). Each value is one item, whatever it holds.
    int leaf_values(std::vector<Text>& list, std::string_view path, bool recursive = false) const;
    // A new document (root name "da") holding a copy of the value at path; its value is null when
    // the path leads nowhere.
    JsonDocument get_document(std::string_view path) const;
    JsonDocument item_document(int index, std::string_view path) const;
    // Element index of the array at path: with as_json its JSON text, else only a string element
    // gives a non-empty text.
    Text item_text(int index, std::string_view path, bool as_json = false) const;

    // Writes. Each gives false, changing nothing, when its value does not read or the place to
    // write does not exist (a missing parent, a parent that is neither object nor array).
    //
    // is_json: value is a literal ("" counts as {}); when both the path's current value and the
    // new one are objects or arrays they are merged (an array target gets the source's elements
    // appended; an object target takes each source member that is missing, null, a string or a
    // boolean there, merges into members that are objects or arrays, and refuses the whole merge
    // when a member to overwrite is a number); otherwise the path is set to the new value.
    // Not is_json: the path is set to value as a string.
    bool set_value(std::string_view path, std::string_view value, bool is_json = false);
    // The path is set to the literal `expression`.
    bool set_expression(std::string_view path, std::string_view expression);
    bool set_number(std::string_view path, double number);
    // Makes the path an empty array unless it is one, then appends value (at_front: inserts it
    // first). Not is_json: value is read as the body of a single-quoted string literal, its
    // escapes taken as escapes.
    bool array_add(std::string_view value, std::string_view path, bool is_json = false,
                   bool at_front = false);
    // Sets element index of the array (or member "index" of the object) at path; an index past the
    // end grows the array with undefined holes. Not is_json: as array_add.
    bool set_item(int index, std::string_view path, std::string_view value, bool is_json = false);
    // Removes element index, shifting the rest down.
    bool remove_item(int index, std::string_view path);
    // Deletes the member at path (an array element becomes an undefined hole). False when there
    // was nothing to delete; the root itself cannot be deleted.
    bool remove(std::string_view path);

    // Identifies the value store: equal for a document and its copies, null before init.
    const void* engine_handle() const;

    struct Engine; // the shared value store, defined in json.cpp

  private:
    Text m_root_name;
    std::shared_ptr<Engine> m_engine;
};

// A UTF-8 string as a JSON string literal for the lines we write (probe, reports, exports): quote,
// backslash and control bytes escaped; other bytes, invalid UTF-8 included, pass through.
void appendJsonString(std::string& out, std::string_view utf8);
std::string jsonString(std::string_view utf8);

} // namespace zelkor
