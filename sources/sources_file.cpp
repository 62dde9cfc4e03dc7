#include "sources/sources_file.h"

#include "sources/url_rules.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

namespace zelkor {

namespace {

// What each built-in row asks, for the comment above it.
constexpr std::array<std::string_view, kSourceCount> kServices = {
    "Baidu desktop web search results page",
    "Baidu search-box suggestion service",
    "Baidu mobile web search results page",
    "Baidu mobile suggestion service",
    "Taobao search suggestion service",
    "360 web search results page",
    "360 search suggestion service",
    "Shenma mobile web search results page",
    "Shenma mobile suggestion service",
    "Sogou web search results page",
    "Sogou suggestion service",
    "DXY medical search related-search service",
    "360 medical search results page",
    "360 medical search suggestion service",
    "iQiyi video search results page",
    "Youku search tip service",
    "bilibili search suggestion service",
    "Tencent Video smart-box service",
    "iQiyi suggestion service",
    "Sohu Video search tip service",
    "Google suggestion service, YouTube client",
    "Google web search results page",
    "Google web suggestion service",
    "1688 offer suggestion service",
    "JD search suggestion service",
};

template <typename E> struct Word {
    E value;
    std::string_view word;
};

constexpr Word<SourceFamily> kFamilies[] = {{SourceFamily::RelatedPage, "related_page"},
                                            {SourceFamily::Suggestion, "suggestion"}};
constexpr Word<FetchKind> kFetches[] = {{FetchKind::Engine, "engine"}, {FetchKind::Plain, "plain"}};
constexpr Word<BodyDecoding> kDecodings[] = {{BodyDecoding::None, "none"}, {BodyDecoding::Utf8, "utf8"}};
constexpr Word<BodyCut> kCuts[] = {{BodyCut::Between, "between"},
                                   {BodyCut::BetweenThenClose, "between_then_close"},
                                   {BodyCut::RemoveLiteral, "remove_literal"},
                                   {BodyCut::AfterFirstEquals, "after_first_equals"},
                                   {BodyCut::Whole, "whole"}};
constexpr Word<ItemRule> kItemRules[] = {{ItemRule::Markers, "markers"}, {ItemRule::JsonPaths, "json_paths"}};
constexpr Word<ItemCleaning> kCleanings[] = {
    {ItemCleaning::None, "none"},
    {ItemCleaning::StripHtml, "strip_html"},
    {ItemCleaning::RemoveUnderscorePercent, "remove_underscore_percent"}};

template <typename E, std::size_t N> std::string_view wordOf(const Word<E> (&words)[N], E value) {
    for (const auto& w : words)
        if (w.value == value) return w.word;
    return {};
}

template <typename E, std::size_t N> std::string wordList(const Word<E> (&words)[N]) {
    std::string list;
    for (const auto& w : words) {
        if (!list.empty()) list += ", ";
        list += w.word;
    }
    return list;
}

std::string quoted(const std::string& value) {
    std::ostringstream out;
    out << toml::toml_formatter(toml::value<std::string>(value), toml::format_flags::allow_unicode_strings);
    return out.str();
}

// One key of a row: how it is written and how a file's value is taken. `read` answers what is
// wrong with the value, or nothing.
struct Field {
    std::string_view key;
    std::string (*write)(const SourceRow&);
    std::string (*read)(SourceRow&, const toml::node&);
};

std::string readString(std::string& target, const toml::node& node) {
    const auto* value = node.as_string();
    if (!value) return "must be a string in double quotes";
    if (value->get().find('\0') != std::string::npos) return "must not hold a NUL character";
    target = value->get();
    return {};
}

std::string readInt(int& target, const toml::node& node, std::int64_t low, std::int64_t high) {
    const auto* value = node.as_integer();
    if (!value) return "must be a whole number";
    if (value->get() < low || value->get() > high)
        return "must lie between " + std::to_string(low) + " and " + std::to_string(high);
    target = static_cast<int>(value->get());
    return {};
}

template <typename E, std::size_t N>
std::string readWord(E& target, const toml::node& node, const Word<E> (&words)[N]) {
    const auto* value = node.as_string();
    if (value) {
        for (const auto& w : words) {
            if (w.word == value->get()) {
                target = w.value;
                return {};
            }
        }
    }
    return "must be one of " + wordList(words);
}

// Built by hand so that a row prints its keys in this order, not sorted.
#define ZELKOR_TEXT_FIELD(key, member)                                                                       \
    Field {                                                                                                  \
        key, [](const SourceRow& r) { return quoted(r.member); },                                            \
            [](SourceRow& r, const toml::node& n) { return readString(r.member, n); }                        \
    }
#define ZELKOR_WORD_FIELD(key, member, words)                                                                \
    Field {                                                                                                  \
        key, [](const SourceRow& r) { return quoted(std::string(wordOf(words, r.member))); },                \
            [](SourceRow& r, const toml::node& n) { return readWord(r.member, n, words); }                   \
    }

constexpr std::int64_t kMaxIndex = 999;
constexpr int kMaxNesting = 32;
constexpr std::int64_t kMaxPauseMs = 60000;

const Field kFields[] = {
    {"index", [](const SourceRow& r) { return std::to_string(r.index); },
     [](SourceRow& r, const toml::node& n) { return readInt(r.index, n, 0, kMaxIndex); }},
    ZELKOR_TEXT_FIELD("label", label),
    ZELKOR_TEXT_FIELD("output_name", outputName),
    ZELKOR_WORD_FIELD("family", family, kFamilies),
    ZELKOR_WORD_FIELD("fetch", fetch, kFetches),
    {"display_pause_ms", [](const SourceRow& r) { return std::to_string(r.displayPauseMs); },
     [](SourceRow& r, const toml::node& n) { return readInt(r.displayPauseMs, n, 0, kMaxPauseMs); }},
    ZELKOR_TEXT_FIELD("scheme", scheme),
    ZELKOR_TEXT_FIELD("host", host),
    ZELKOR_TEXT_FIELD("prefix", prefix),
    ZELKOR_TEXT_FIELD("suffix", suffix),
    {"stamp_suffix", [](const SourceRow& r) { return std::string(r.stampSuffix ? "true" : "false"); },
     [](SourceRow& r, const toml::node& n) -> std::string {
         const auto* value = n.as_boolean();
         if (!value) return "must be true or false";
         r.stampSuffix = value->get();
         return {};
     }},
    ZELKOR_TEXT_FIELD("headers", headers),
    ZELKOR_TEXT_FIELD("cookies", cookies),
    ZELKOR_WORD_FIELD("decoding", decoding, kDecodings),
    ZELKOR_WORD_FIELD("cut", cut, kCuts),
    ZELKOR_TEXT_FIELD("cut_start", cutStart),
    ZELKOR_TEXT_FIELD("cut_end", cutEnd),
    ZELKOR_WORD_FIELD("item_rule", itemRule, kItemRules),
    ZELKOR_TEXT_FIELD("item_start", itemStart),
    ZELKOR_TEXT_FIELD("item_end", itemEnd),
    ZELKOR_TEXT_FIELD("array_path", arrayPath),
    ZELKOR_TEXT_FIELD("item_prefix", itemPrefix),
    ZELKOR_TEXT_FIELD("item_suffix", itemSuffix),
    ZELKOR_WORD_FIELD("cleaning", cleaning, kCleanings),
};

#undef ZELKOR_TEXT_FIELD
#undef ZELKOR_WORD_FIELD

const Field* fieldOf(std::string_view key) {
    for (const Field& field : kFields)
        if (field.key == key) return &field;
    return nullptr;
}

// What a new row cannot do without.
constexpr std::string_view kRequired[] = {"index", "label", "family", "scheme", "host", "prefix"};

struct Refusal {
    toml::source_position at;
    std::string what;
};

std::string where(const std::string& fileName, toml::source_position at) {
    return fileName + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": ";
}

// The length of the UTF-8 character `text` begins with; 0 when it is not one.
std::size_t utf8Length(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                       : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((at(k) & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((lead == 0xE0 && at(1) < 0xA0) || (lead == 0xED && at(1) > 0x9F) || (lead == 0xF0 && at(1) < 0x90) ||
        (lead == 0xF4 && at(1) > 0x8F))
        return 0;
    return length;
}

// The parser descends once per table header part, dotted key part, array and inline table, and a
// deep enough file runs it out of stack; so the depth is counted here, on the bytes, first. Dots
// in numbers and dates count too, which no real file comes near. Its whitespace test also goes
// astray on some characters past ASCII, which TOML allows only inside strings and comments, and
// never after a backslash; those are refused here too.
std::optional<Refusal> shapeProblem(std::string_view text) {
    enum class State { Plain, Comment, Basic, Literal, MultiBasic, MultiLiteral };
    State state = State::Plain;
    int brackets = 0;
    int dots = 0;
    bool escaped = false; // the byte after a backslash in a basic string
    char last = '\n';    // the last byte outside strings that was not a space
    toml::source_position at{1, 1};
    const std::size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0; // a byte-order mark
    for (std::size_t i = start; i < text.size(); ++i, ++at.column) {
        const char c = text[i];
        const std::string_view rest = text.substr(i);
        if (c == '\n') {
            ++at.line;
            at.column = 0;
        }
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F ||
            (c == '\r' && !rest.starts_with("\r\n")))
            return Refusal{at, "a control character (byte " + std::to_string(byte) +
                                   "); TOML allows none but TAB and line ends, not even in strings"};
        if (byte >= 0x80 && utf8Length(rest) == 0)
            return Refusal{at, "bytes that are not UTF-8; save the file as UTF-8"};
        // The rest of a character past ASCII is never syntax.
        const std::size_t tail = byte >= 0x80 ? utf8Length(rest) - 1 : 0;
        const bool ascii = byte < 0x80;
        if (!ascii && state == State::Plain)
            return Refusal{at, "a character past ASCII outside a quoted string or a comment; quote the value"};
        if (!ascii && escaped)
            return Refusal{at, "a backslash in a string must be followed by b, t, n, f, r, \", \\, u or U"};
        switch (state) {
        case State::Plain:
            if (c == '#') {
                state = State::Comment;
            } else if ((c == '"' || c == '\'') && std::string_view("\n=[{,.").find(last) != std::string_view::npos) {
                // A quote opens a string only where a key or a value begins; one inside a bare word
                // is the parser's error, and what follows it is not a string to it.
                const bool multi = rest.starts_with(c == '"' ? "\"\"\"" : "'''");
                state = c == '"' ? (multi ? State::MultiBasic : State::Basic)
                                 : (multi ? State::MultiLiteral : State::Literal);
                if (multi) i += 2, at.column += 2;
            } else if (c == '[' || c == '{') {
                ++brackets;
                dots = 0;
            } else if (c == ']' || c == '}') {
                brackets = std::max(0, brackets - 1);
                dots = 0;
            } else if (c == '.') {
                ++dots;
            } else if (c == '\n' || c == '=' || c == ',') {
                dots = 0;
            }
            if (c != ' ' && c != '\t' && c != '\r') last = state == State::Plain ? c : '"';
            if (brackets + dots > kMaxNesting)
                return Refusal{at, "nested deeper than " + std::to_string(kMaxNesting) +
                                       " levels (tables, dotted keys, arrays); a sources file needs two"};
            break;
        case State::Comment:
            if (c == '\n') state = State::Plain, last = '\n';
            break;
        case State::Basic:
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"' || c == '\n') state = State::Plain;
            break;
        case State::Literal:
            if (c == '\'' || c == '\n') state = State::Plain;
            break;
        case State::MultiBasic:
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (rest.starts_with("\"\"\"")) state = State::Plain, i += 2, at.column += 2;
            break;
        case State::MultiLiteral:
            if (rest.starts_with("'''")) state = State::Plain, i += 2, at.column += 2;
            break;
        }
        i += tail;
    }
    return std::nullopt;
}

// Where byte `offset` of `text` is, counting characters from 1.
toml::source_position positionOf(std::string_view text, std::size_t offset) {
    toml::source_position at{1, 1};
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++at.line;
            at.column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++at.column;
        }
    }
    return at;
}

bool isBareKeyByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// The second look, line by line, at what the first let through: a sources file is headers of bare
// names, "key = value" lines with bare keys, and comments. The parser tests every character it
// reads in a key, a bare value or after a line-ending backslash for whitespace, a test that is
// undefined for some characters past ASCII; so past ASCII is only taken inside a quoted value or a
// comment, and nothing but a comment may follow a quoted value.
std::optional<Refusal> layoutProblem(std::string_view text) {
    std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    const auto refuse = [&](std::size_t at, std::string what) {
        return std::optional<Refusal>(Refusal{positionOf(text, at), std::move(what)});
    };
    const auto spaces = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    const auto lineEnds = [&] { return i == text.size() || text[i] == '\n' || text.substr(i).starts_with("\r\n"); };
    // After a header or a value: spaces, a comment, the end of the line.
    const auto restOfLine = [&]() -> std::optional<Refusal> {
        spaces();
        if (i < text.size() && text[i] == '#')
            while (i < text.size() && text[i] != '\n') ++i;
        if (!lineEnds()) return refuse(i, "only a comment may follow on this line");
        return std::nullopt;
    };
    const auto bareName = [&](const char* what) -> std::optional<Refusal> {
        for (bool first = true;; first = false) {
            spaces();
            const std::size_t start = i;
            while (i < text.size() && isBareKeyByte(text[i])) ++i;
            if (i == start)
                return refuse(i, std::string(what) + " is a bare name (letters, digits, _ and -)" +
                                     (first ? "" : " after each dot"));
            spaces();
            if (i >= text.size() || text[i] != '.') return std::nullopt;
            ++i;
        }
    };
    while (i < text.size()) {
        spaces();
        if (lineEnds()) {
            i += i < text.size() && text[i] == '\r' ? 2 : 1;
            continue;
        }
        if (text[i] == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
            continue;
        }
        if (text[i] == '[') {
            const bool list = text.substr(i).starts_with("[[");
            i += list ? 2 : 1;
            if (auto problem = bareName("a table header")) return problem;
            if (!text.substr(i).starts_with(list ? "]]" : "]"))
                return refuse(i, list ? "a table header ends in \"]]\", as in [[source]]" : "a table header ends in \"]\"");
            i += list ? 2 : 1;
            if (auto problem = restOfLine()) return problem;
            continue;
        }
        if (auto problem = bareName("a key")) return problem;
        if (i >= text.size() || text[i] != '=') return refuse(i, "a key is followed by \"=\" and its value");
        ++i;
        spaces();
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("\"\"\"") || rest.starts_with("'''")) {
            const std::string_view close = rest.substr(0, 3);
            const bool basic = close[0] == '"';
            std::size_t j = i + 3;
            bool found = false;
            while (j < text.size()) {
                if (basic && text[j] == '\\') {
                    // A line-ending backslash: the parser skips white space to the next character
                    // and tests each one on the way.
                    std::size_t k = j + 1;
                    while (k < text.size() && (text[k] == ' ' || text[k] == '\t' || text[k] == '\r' || text[k] == '\n'))
                        ++k;
                    if (k > j + 1 && k < text.size() && static_cast<unsigned char>(text[k]) >= 0x80)
                        return refuse(k, "a line-ending backslash must not be followed by a character past ASCII");
                    j += 2;
                    continue;
                }
                if (text.substr(j).starts_with(close)) {
                    j += 3;
                    // Up to two more quotes belong to the string.
                    for (int extra = 0; extra < 2 && j < text.size() && text[j] == close[0]; ++extra) ++j;
                    found = true;
                    break;
                }
                ++j;
            }
            if (!found) return refuse(i, "this multi-line string is never closed");
            i = j;
        } else if (rest.starts_with("\"") || rest.starts_with("'")) {
            const char quote = rest[0];
            std::size_t j = i + 1;
            while (j < text.size() && text[j] != quote && text[j] != '\n' && text[j] != '\r')
                j += quote == '"' && text[j] == '\\' ? 2 : 1;
            if (j >= text.size() || text[j] != quote) return refuse(i, "this string does not end on its line");
            i = j + 1;
        } else {
            // A number, true or false, or anything the parser will refuse: ASCII to the line's end.
            while (!lineEnds() && text[i] != '#') {
                if (static_cast<unsigned char>(text[i]) >= 0x80)
                    return refuse(i, "a value that is not a quoted string holds only ASCII; quote it");
                ++i;
            }
        }
        if (auto problem = restOfLine()) return problem;
    }
    return std::nullopt;
}

// What a key's value must not do to the request, whatever the row: read before anything is sent.
std::string valueProblem(std::string_view key, const SourceRow& row) {
    std::string problem;
    if (key == "host")
        problem = authorityProblem(row.host);
    else if (key == "prefix")
        problem = prefixProblem(row.prefix);
    else if (key == "suffix")
        problem = suffixProblem(row.suffix);
    else if (key == "headers")
        problem = headerLinesProblem(row.headers);
    else if (key == "cookies")
        problem = cookieLineProblem(row.cookies);
    if (problem.empty() || key == "host") return problem;
    return std::string(key) + " " + problem;
}

// What is wrong with a row as a whole, after its keys were taken.
std::string rowProblem(const SourceRow& row) {
    if (row.scheme != "http" && row.scheme != "https") return "scheme must be \"http\" or \"https\"";
    if (std::string problem = authorityProblem(row.host); !problem.empty()) return problem;
    if (row.label.empty()) return "label must not be empty";
    if (row.family == SourceFamily::Suggestion && row.itemRule == ItemRule::Markers)
        return "item_rule \"markers\" needs family \"related_page\"; a suggestion source reads JSON paths";
    if (row.itemRule == ItemRule::Markers && (row.itemStart.empty() || row.itemEnd.empty()))
        return "item_rule \"markers\" needs item_start and item_end";
    if (row.cut == BodyCut::RemoveLiteral && row.cutStart.empty())
        return "cut \"remove_literal\" needs cut_start, the text to remove";
    return {};
}

} // namespace

SourceRows builtInSourceRows() {
    const auto& rows = source_rows();
    return SourceRows(rows.begin(), rows.end());
}

std::string sourcesToml(const SourceRows& rows) {
    std::string text =
        "# Keyword sources, one [[source]] table per row, in list order.\n"
        "# A sources file gives only the rows and keys it changes; a row is known by its index.\n";
    for (const SourceRow& row : rows) {
        text += "\n# ";
        // A label with a line break would end the comment and start a line of its own.
        std::string label = row.label;
        std::replace_if(label.begin(), label.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
        text += std::to_string(row.index) + " " + label;
        if (row.index >= 0 && row.index < kSourceCount) text += ": " + std::string(kServices[row.index]);
        text += "\n[[source]]\n";
        for (const Field& field : kFields)
            text.append(field.key).append(" = ").append(field.write(row)).append("\n");
    }
    return text;
}

std::optional<SourceRows> applySourcesToml(std::string_view text, const std::string& fileName,
                                           SourceRows base, std::string* error) {
    auto refuse = [&](toml::source_position at, const std::string& what) -> std::optional<SourceRows> {
        if (error) *error = where(fileName, at) + what;
        return std::nullopt;
    };
    if (text.size() > kMaxSourcesFileBytes)
        return refuse({1, 1}, "the file is larger than " + std::to_string(kMaxSourcesFileBytes) +
                                  " bytes (1 MiB); a sources file holds a few rows");
    if (const std::optional<Refusal> shape = shapeProblem(text)) return refuse(shape->at, shape->what);
    if (const std::optional<Refusal> layout = layoutProblem(text)) return refuse(layout->at, layout->what);
    toml::table document;
    try {
        document = toml::parse(text, std::string_view(fileName));
    } catch (const toml::parse_error& e) {
        return refuse(e.source().begin, std::string(e.description()));
    }

    const toml::array* list = nullptr;
    for (auto&& [key, node] : document) {
        if (key.str() != "source")
            return refuse(key.source().begin,
                          "unknown key \"" + std::string(key.str()) + "\"; rows are [[source]] tables");
        list = node.as_array();
        if (!list || !list->is_array_of_tables())
            return refuse(key.source().begin,
                          "source must be a list of tables: write each row under [[source]]");
    }
    if (!list) return base;

    const std::size_t builtCount = base.size();
    std::map<int, toml::source_position> seen; // index -> where its row begins
    std::map<int, SourceRow> added;
    for (const toml::node& entry : *list) {
        const toml::table& table = *entry.as_table();
        const toml::source_position rowAt = table.source().begin;
        const toml::node* indexNode = table.get("index");
        if (!indexNode) return refuse(rowAt, "a [[source]] table needs an index");
        SourceRow probe;
        if (const std::string problem = readInt(probe.index, *indexNode, 0, kMaxIndex); !problem.empty())
            return refuse(indexNode->source().begin, "index " + problem);
        const int index = probe.index;
        if (const auto before = seen.find(index); before != seen.end())
            return refuse(indexNode->source().begin, "index " + std::to_string(index) +
                                                         " is given twice (first on line " +
                                                         std::to_string(before->second.line) + ")");
        seen.emplace(index, indexNode->source().begin);

        const bool isNew = static_cast<std::size_t>(index) >= builtCount;
        SourceRow row;
        if (isNew) {
            for (std::string_view key : kRequired)
                if (!table.contains(key))
                    return refuse(rowAt, "the new source " + std::to_string(index) + " needs the key " +
                                             std::string(key));
            row.displayPauseMs = 100;
        } else {
            row = base[static_cast<std::size_t>(index)];
        }
        for (auto&& [key, node] : table) {
            const Field* field = fieldOf(key.str());
            if (!field) return refuse(key.source().begin, "unknown key \"" + std::string(key.str()) + "\"");
            if (const std::string problem = field->read(row, node); !problem.empty())
                return refuse(node.source().begin, std::string(key.str()) + " " + problem);
            if (const std::string problem = valueProblem(key.str(), row); !problem.empty())
                return refuse(node.source().begin, problem);
        }
        if (isNew) {
            if (!table.contains("output_name")) row.outputName = row.label;
            if (!table.contains("item_rule"))
                row.itemRule =
                    row.family == SourceFamily::RelatedPage ? ItemRule::Markers : ItemRule::JsonPaths;
        }
        if (const std::string problem = rowProblem(row); !problem.empty()) return refuse(rowAt, problem);
        if (isNew)
            added.emplace(index, std::move(row));
        else
            base[static_cast<std::size_t>(index)] = std::move(row);
    }

    // New rows continue the list without a hole, whatever their order in the file.
    int expected = static_cast<int>(builtCount);
    for (auto& [index, row] : added) {
        if (index != expected)
            return refuse(seen.at(index), "index " + std::to_string(index) +
                                              " leaves a gap: the next new source is " +
                                              std::to_string(expected));
        base.push_back(std::move(row));
        ++expected;
    }
    return base;
}

std::optional<SourceRows> loadSourcesFile(const std::filesystem::path& file, std::string* error) {
    std::error_code ec;
    std::ifstream in;
    if (!std::filesystem::is_directory(file, ec)) in.open(file, std::ios::binary);
    if (!in.is_open() || !in) {
        if (error) *error = file.string() + ": cannot read the sources file";
        return std::nullopt;
    }
    // One byte past the cap is enough to refuse; /dev/zero or a huge file is never read whole.
    std::string text(kMaxSourcesFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        if (error) *error = file.string() + ": cannot read the sources file";
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    return applySourcesToml(text, file.string(), builtInSourceRows(), error);
}

std::optional<SourceRows> loadSources(const std::filesystem::path& home, const std::filesystem::path& file,
                                      std::string* error) {
    if (!file.empty()) return loadSourcesFile(file, error);
    const std::filesystem::path fallback = home / "data" / "sources.toml";
    std::error_code ec;
    if (!std::filesystem::exists(fallback, ec)) return builtInSourceRows();
    return loadSourcesFile(fallback, error);
}

} // namespace zelkor
