#include "text/regex.h"

#include "text/bytes.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zelkor {

namespace {

// ---- GBK to code points ------------------------------------------------------------------------

// Bytes with no GBK meaning still have to take part in matching and come back unchanged, so they
// decode to private code points that no GBK character uses: a lead byte with a trail byte that
// GBK leaves undefined (its user-defined areas) to plane 15, a lone byte to the end of plane 16.
constexpr char32_t kUndefinedPairBase = 0xF0000;
constexpr char32_t kLoneByteBase = 0x10FF00;

constexpr bool isLead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
constexpr bool isTrail(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

class GbkTable {
  public:
    GbkTable() {
        m_pairs.fill(0);
        iconv_t cd = iconv_open("UTF-32LE", "GBK");
        if (cd == reinterpret_cast<iconv_t>(-1)) return;
        for (int lead = 0x81; lead <= 0xFE; ++lead)
            for (int trail = 0x40; trail <= 0xFE; ++trail)
                if (isTrail(static_cast<unsigned char>(trail)))
                    m_pairs[index(lead, trail)] = convert(cd, lead, trail);
        m_euro = convert(cd, 0x80, -1);
        iconv_close(cd);
    }

    // Code point of the pair, or 0 when GBK does not define it.
    char32_t pair(unsigned char lead, unsigned char trail) const { return m_pairs[index(lead, trail)]; }
    char32_t euro() const { return m_euro; }

  private:
    static std::size_t index(int lead, int trail) {
        return static_cast<std::size_t>((lead - 0x81) * 191 + (trail - 0x40));
    }

    static char32_t convert(iconv_t cd, int first, int second) {
        char in[2] = {static_cast<char>(first), static_cast<char>(second)};
        std::size_t inLeft = second < 0 ? 1 : 2;
        unsigned char out[8] = {};
        char* inPtr = in;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
            sizeof out - outLeft != 4)
            return 0;
        return static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
    }

    std::array<char32_t, 126 * 191> m_pairs;
    char32_t m_euro = 0;
};

const GbkTable& gbkTable() {
    static const GbkTable table;
    return table;
}

// Calls f(code point, byte offset, byte length) for each character of a GBK text.
template <typename F> void forEachGbkChar(std::string_view text, F&& f) {
    const GbkTable& table = gbkTable();
    std::size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            f(static_cast<char32_t>(b), i, 1);
            ++i;
        } else if (isLead(b) && i + 1 < text.size() && isTrail(static_cast<unsigned char>(text[i + 1]))) {
            auto t = static_cast<unsigned char>(text[i + 1]);
            char32_t cp = table.pair(b, t);
            f(cp ? cp : kUndefinedPairBase + (static_cast<char32_t>(b) << 8 | t), i, 2);
            i += 2;
        } else {
            char32_t cp = b == 0x80 ? table.euro() : 0;
            f(cp ? cp : kLoneByteBase + b, i, 1);
            ++i;
        }
    }
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The subject as the matcher sees it, with the GBK byte offset of every UTF-8 character start
// (and of the end), so that results are cut from the GBK subject itself.
struct Utf8Subject {
    std::string utf8;
    std::vector<std::uint32_t> gbkOffset;
};

Utf8Subject decodeSubject(std::string_view gbk) {
    Utf8Subject s;
    s.utf8.reserve(gbk.size() * 3 / 2);
    s.gbkOffset.reserve(gbk.size() * 3 / 2 + 1);
    forEachGbkChar(gbk, [&](char32_t cp, std::size_t offset, std::size_t) {
        std::size_t before = s.utf8.size();
        appendUtf8(s.utf8, cp);
        s.gbkOffset.resize(s.utf8.size(), static_cast<std::uint32_t>(offset));
        (void)before;
    });
    s.gbkOffset.push_back(static_cast<std::uint32_t>(gbk.size()));
    return s;
}

// ---- dialect to PCRE2 --------------------------------------------------------------------------

// A character in a class: ASCII as \xHH (safe whatever it is), anything else as itself.
void appendClassChar(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        static constexpr char hex[] = "0123456789abcdef";
        out += "\\x";
        out += hex[cp >> 4];
        out += hex[cp & 0xF];
    } else {
        appendUtf8(out, cp);
    }
}

bool isAsciiDigit(char32_t c) {
    return c >= '0' && c <= '9';
}
bool isAsciiLetter(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Capturing groups of the pattern: "(" not followed by "?", plus the named forms PCRE2 also counts.
int countGroups(const std::vector<char32_t>& p) {
    int groups = 0;
    bool inClass = false;
    for (std::size_t i = 0; i < p.size(); ++i) {
        char32_t c = p[i];
        if (c == '\\') {
            ++i;
        } else if (inClass) {
            if (c == ']') inClass = false;
        } else if (c == '[') {
            inClass = true;
            if (i + 1 < p.size() && p[i + 1] == '^') ++i;
        } else if (c == '(') {
            if (i + 1 >= p.size() || p[i + 1] != '?') {
                ++groups;
            } else if (i + 2 < p.size()) {
                char32_t k = p[i + 2];
                bool named = k == 'P' || k == '\'' ||
                             (k == '<' && i + 3 < p.size() && p[i + 3] != '=' && p[i + 3] != '!');
                if (named) ++groups;
            }
        }
    }
    return groups;
}

// The length of a counted quantifier ("{2}", "{2,}", "{2,5}") starting at p[i], or 0 when the
// brace is a plain character there.
std::size_t countedQuantifier(const std::vector<char32_t>& p, std::size_t i) {
    std::size_t j = i + 1;
    const std::size_t digits = j;
    while (j < p.size() && isAsciiDigit(p[j]))
        ++j;
    if (j == digits) return 0;
    if (j < p.size() && p[j] == ',') {
        ++j;
        while (j < p.size() && isAsciiDigit(p[j]))
            ++j;
    }
    return j < p.size() && p[j] == '}' ? j + 1 - i : 0;
}

// Rewrites a dialect pattern (as code points) into a PCRE2 pattern in UTF-8. Only what PCRE2
// reads differently changes: ".", \s and \S (ASCII to PCRE2 without UCP), \v (one character in the
// dialect, a class to PCRE2), escapes of letters PCRE2 gives a meaning the dialect does not have,
// back references to groups that do not exist (octal escapes or plain digits in the dialect), and
// "[" inside a class (a POSIX class opener to PCRE2). Syntax that only PCRE2 has gives nullopt:
// "(?" other than "(?:", "(?=" and "(?!" (look-behind, named and atomic groups, inline flags …),
// "(*" (verbs, some of which change how the subject is read) and possessive quantifiers.
std::optional<std::string> translatePattern(const std::vector<char32_t>& p) {
    const int groups = countGroups(p);
    std::string out;
    out.reserve(p.size() * 2);
    bool inClass = false;
    bool afterQuantifier = false; // the last thing outside a class was a quantifier
    for (std::size_t i = 0; i < p.size(); ++i) {
        char32_t c = p[i];
        const bool quantified = afterQuantifier;
        afterQuantifier = false;
        if (!inClass) {
            if (c == '(' && i + 1 < p.size()) {
                const char32_t next = p[i + 1];
                if (next == '*') return std::nullopt;
                if (next == '?' && (i + 2 >= p.size() || (p[i + 2] != ':' && p[i + 2] != '=' && p[i + 2] != '!')))
                    return std::nullopt;
                if (next == '?') { // the group's "?" is no quantifier
                    out += "(?";
                    ++i;
                    continue;
                }
            } else if (c == '*' || c == '+' || c == '?') {
                if (quantified && c == '+') return std::nullopt; // possessive
                afterQuantifier = !(quantified && c == '?');    // "?" after a quantifier makes it lazy
                out += static_cast<char>(c);
                continue;
            } else if (c == '{') {
                if (const std::size_t n = countedQuantifier(p, i)) {
                    for (std::size_t k = i; k < i + n; ++k)
                        out += static_cast<char>(p[k]);
                    i += n - 1;
                    afterQuantifier = true;
                    continue;
                }
                out += "\\{"; // a plain brace, whatever a newer PCRE2 makes of "{,n}"
                continue;
            }
        }
        if (c == '\\') {
            if (i + 1 >= p.size()) {
                out += '\\'; // a dangling escape stays an error
                break;
            }
            char32_t e = p[++i];
            if (e == 's' || e == 'S') {
                // The dialect's white space is the Unicode spaces with TAB..CR: PCRE2's Xsp.
                out += e == 's' ? "\\p{Xsp}" : "\\P{Xsp}";
            } else if (e == 'v') {
                out += "\\x0b";
            } else if (isAsciiDigit(e) && e != '0' && !inClass) {
                std::size_t j = i;
                int number = 0;
                while (j < p.size() && isAsciiDigit(p[j]) && number <= groups)
                    number = number * 10 + (p[j++] - '0');
                if (number <= groups) {
                    out += '\\';
                    for (std::size_t k = i; k < j; ++k)
                        out += static_cast<char>(p[k]);
                    i = j - 1;
                } else if (e >= '8') {
                    out += static_cast<char>(e);
                } else {
                    // Legacy octal escape: up to three octal digits, at most \377.
                    char32_t value = 0;
                    std::size_t k = i;
                    while (k < p.size() && k < i + 3 && p[k] >= '0' && p[k] <= '7' &&
                           value * 8 + (p[k] - '0') <= 0377)
                        value = value * 8 + (p[k++] - '0');
                    out += '[';
                    appendClassChar(out, value);
                    out += ']';
                    i = k - 1;
                }
            } else if (isAsciiLetter(e)) {
                static constexpr std::string_view kept = "dDwWbBfnrtcxu";
                if (kept.find(static_cast<char>(e)) != std::string_view::npos) {
                    out += '\\';
                    out += static_cast<char>(e);
                } else {
                    out += static_cast<char>(e); // \A, \Q, \K ... are plain letters in the dialect
                }
            } else if (e < 0x80) {
                out += '\\';
                out += static_cast<char>(e);
            } else {
                appendUtf8(out, e);
            }
        } else if (inClass) {
            if (c == ']') {
                inClass = false;
                out += ']';
            } else if (c == '[') {
                out += "\\[";
            } else {
                appendUtf8(out, c);
            }
        } else if (c == '[') {
            inClass = true;
            out += '[';
            if (i + 1 < p.size() && p[i + 1] == '^') {
                out += '^';
                ++i;
            }
        } else if (c == '.') {
            out += "[^\\n]";
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

struct CodeDeleter {
    void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* c) const { pcre2_compile_context_free(c); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* c) const { pcre2_match_context_free(c); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

// A pathological pattern gives up instead of hanging the thread that asked.
constexpr std::uint32_t kMatchLimit = 5'000'000;

const Text& quotePlaceholder() {
    static const Text placeholder = utf8_to_gbk("#引号");
    return placeholder;
}

} // namespace

struct RegexObject::Compiled {
    CodePtr code;
    Text pattern;
    std::uint32_t options = 0;
    int groups = 0;

    static std::shared_ptr<const Compiled> make(const Text& pattern, std::uint32_t options,
                                                std::string* problem = nullptr);
};

std::shared_ptr<const RegexObject::Compiled> RegexObject::Compiled::make(const Text& pattern,
                                                                         std::uint32_t options,
                                                                         std::string* problem) {
    // The HTML cleaning compiles one pattern for every phrase of every page; a few recent patterns
    // per thread are kept (a compiled pattern is read-only, so copies may share it).
    constexpr std::size_t kCached = 8;
    thread_local std::vector<std::shared_ptr<const Compiled>> recent;
    for (auto it = recent.begin(); it != recent.end(); ++it)
        if ((*it)->options == options && (*it)->pattern == pattern) {
            std::rotate(recent.begin(), it, it + 1);
            return recent.front();
        }

    std::vector<char32_t> codePoints;
    codePoints.reserve(pattern.size());
    forEachGbkChar(pattern, [&](char32_t cp, std::size_t, std::size_t) { codePoints.push_back(cp); });
    const std::optional<std::string> translated = translatePattern(codePoints);
    if (!translated) {
        if (problem) *problem = "it uses a construct this dialect does not have";
        return nullptr;
    }

    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
        pcre2_compile_context_create(nullptr));
    if (!context) return nullptr;
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
    auto compiled = std::make_shared<Compiled>();
    compiled->pattern = pattern;
    compiled->options = options;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    compiled->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated->data()), translated->size(),
                                       options, &error, &errorOffset, context.get()));
    if (!compiled->code) {
        if (problem) {
            PCRE2_UCHAR message[256];
            if (pcre2_get_error_message(error, message, sizeof message) < 0) message[0] = 0;
            *problem = reinterpret_cast<const char*>(message);
        }
        return nullptr;
    }
    pcre2_jit_compile(compiled->code.get(), PCRE2_JIT_COMPLETE); // the interpreter serves without JIT
    std::uint32_t captures = 0;
    pcre2_pattern_info(compiled->code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    compiled->groups = static_cast<int>(captures);

    if (recent.size() == kCached) recent.pop_back();
    recent.insert(recent.begin(), compiled);
    return compiled;
}

// Offsets are GBK byte offsets into the subject, start and end for the whole match and for each
// group, -1 for a group that took no part.
struct RegexObject::Run {
    int stride = 2;
    std::vector<int> offsets;
    int count() const { return static_cast<int>(offsets.size()) / stride; }
};

namespace {
std::uint32_t compileOptions(bool case_sensitive, bool multi_line) {
    std::uint32_t options = PCRE2_UTF | PCRE2_NO_UTF_CHECK | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                            PCRE2_MATCH_UNSET_BACKREF | PCRE2_ALT_CIRCUMFLEX;
    options |= multi_line ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;
    if (!case_sensitive) options |= PCRE2_CASELESS;
    return options;
}
} // namespace

std::string RegexObject::patternProblem(std::string_view pattern, bool case_sensitive, bool multi_line) {
    std::string problem;
    if (Compiled::make(Text(pattern), compileOptions(case_sensitive, multi_line), &problem)) return {};
    return problem.empty() ? std::string("it does not compile") : problem;
}

bool RegexObject::create(std::string_view pattern, std::string_view subject, bool case_sensitive,
                         bool multi_line, bool global, bool quote_placeholder) {
    m_compiled.reset();
    m_run.reset();
    m_subject.clear();

    const std::uint32_t options = compileOptions(case_sensitive, multi_line);
    std::shared_ptr<const Compiled> compiled = Compiled::make(
        quote_placeholder ? replaceAll(pattern, quotePlaceholder(), "\"") : Text(pattern), options);
    if (!compiled) return false;

    MatchDataPtr matchData(pcre2_match_data_create_from_pattern(compiled->code.get(), nullptr));
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> matchContext(
        pcre2_match_context_create(nullptr));
    if (!matchData || !matchContext) return false;
    pcre2_set_match_limit(matchContext.get(), kMatchLimit);

    const Utf8Subject s = decodeSubject(subject);
    auto run = std::make_shared<Run>();
    run->stride = 2 * (compiled->groups + 1);
    const auto* data = reinterpret_cast<PCRE2_SPTR>(s.utf8.data());
    const PCRE2_SIZE length = s.utf8.size();
    PCRE2_SIZE start = 0;
    while (start <= length) {
        int rc = pcre2_match(compiled->code.get(), data, length, start, PCRE2_NO_UTF_CHECK, matchData.get(),
                             matchContext.get());
        if (rc == PCRE2_ERROR_JIT_STACKLIMIT)
            rc = pcre2_match(compiled->code.get(), data, length, start, PCRE2_NO_UTF_CHECK | PCRE2_NO_JIT,
                             matchData.get(), matchContext.get());
        // No match ends the run; so does a resource limit, keeping the matches found before it.
        if (rc < 0) break;
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(matchData.get());
        const int pairs =
            std::min<int>(static_cast<int>(pcre2_get_ovector_count(matchData.get())), compiled->groups + 1);
        for (int g = 0; g <= compiled->groups; ++g) {
            bool set = g < pairs && g < rc && ov[2 * g] != PCRE2_UNSET && ov[2 * g] <= ov[2 * g + 1];
            run->offsets.push_back(set ? static_cast<int>(s.gbkOffset[ov[2 * g]]) : -1);
            run->offsets.push_back(set ? static_cast<int>(s.gbkOffset[ov[2 * g + 1]]) : -1);
        }
        if (!global) break;
        PCRE2_SIZE end = std::max(ov[0], ov[1]);
        if (end == ov[0]) {
            // An empty match: step over one character, as the dialect does.
            if (end >= length) break;
            ++end;
            while (end < length && (static_cast<unsigned char>(s.utf8[end]) & 0xC0) == 0x80)
                ++end;
        }
        start = end;
    }

    m_compiled = std::move(compiled);
    m_run = std::move(run);
    m_subject = Text(subject);
    return true;
}

Text RegexObject::pattern() const {
    return m_compiled ? m_compiled->pattern : Text();
}

int RegexObject::match_count() const {
    return m_run ? m_run->count() : 0;
}

int RegexObject::group_count() const {
    return match_count() > 0 ? m_compiled->groups : 0;
}

namespace {

Text cut(const Text& subject, const int* offsets, int* position) {
    if (offsets[0] < 0) return {};
    if (position) *position = offsets[0];
    return subject.substr(static_cast<std::size_t>(offsets[0]),
                          static_cast<std::size_t>(offsets[1] - offsets[0]));
}

} // namespace

Text RegexObject::match_text(int i, int* position) const {
    if (position) *position = -1;
    if (i < 1 || i > match_count()) return {};
    return cut(m_subject, m_run->offsets.data() + static_cast<std::size_t>(i - 1) * m_run->stride, position);
}

Text RegexObject::group_text(int i, int j, int* position) const {
    if (position) *position = -1;
    if (i < 1 || i > match_count() || j < 1 || j > m_compiled->groups) return {};
    return cut(m_subject, m_run->offsets.data() + static_cast<std::size_t>(i - 1) * m_run->stride + 2 * j,
               position);
}

Text RegexObject::replace(std::string_view replacement) const {
    if (!m_run) return {};
    const int groups = m_compiled->groups;
    const std::string_view subject = m_subject;
    Text out;
    out.reserve(subject.size());
    std::size_t copied = 0;
    for (int m = 0; m < m_run->count(); ++m) {
        const int* o = m_run->offsets.data() + static_cast<std::size_t>(m) * m_run->stride;
        const auto start = static_cast<std::size_t>(o[0]);
        const auto end = static_cast<std::size_t>(o[1]);
        out.append(subject.substr(copied, start - copied));
        copied = end;
        // "$" and digits never occur as a GBK trail byte, so a byte scan is safe here.
        for (std::size_t k = 0; k < replacement.size(); ++k) {
            char c = replacement[k];
            char n = k + 1 < replacement.size() ? replacement[k + 1] : '\0';
            if (c != '$' || k + 1 >= replacement.size()) {
                out += c;
            } else if (n == '$') {
                out += '$';
                ++k;
            } else if (n == '&') {
                out.append(subject.substr(start, end - start));
                ++k;
            } else if (n == '`') {
                out.append(subject.substr(0, start));
                ++k;
            } else if (n == '\'') {
                out.append(subject.substr(end));
                ++k;
            } else if (n >= '0' && n <= '9') {
                int group = n - '0';
                std::size_t used = 1;
                char n2 = k + 2 < replacement.size() ? replacement[k + 2] : '\0';
                if (n2 >= '0' && n2 <= '9' && group * 10 + (n2 - '0') >= 1 &&
                    group * 10 + (n2 - '0') <= groups) {
                    group = group * 10 + (n2 - '0');
                    used = 2;
                }
                if (group < 1 || group > groups) {
                    out += '$';
                    continue;
                }
                if (o[2 * group] >= 0)
                    out.append(subject.substr(static_cast<std::size_t>(o[2 * group]),
                                              static_cast<std::size_t>(o[2 * group + 1] - o[2 * group])));
                k += used;
            } else {
                out += '$';
            }
        }
    }
    out.append(subject.substr(copied));
    return out;
}

} // namespace zelkor
