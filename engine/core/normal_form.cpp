#include "engine/core/normal_form.h"

#include <opencc/opencc.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace zelkor {
namespace {

// OpenCC's converter is not documented as safe to share between threads, so calls take turns;
// a phrase converts in microseconds.
class Simplifier {
  public:
    static Simplifier& instance() {
        static Simplifier s;
        return s;
    }
    Expected<std::string> convert(std::string_view utf8) {
        std::lock_guard lock(m_mutex);
        if (m_handle == reinterpret_cast<opencc_t>(-1)) return Error{m_failure};
        char* out = opencc_convert_utf8(m_handle, utf8.data(), utf8.size());
        if (!out) return Error{std::string("traditional-to-simplified conversion failed: ") + opencc_error()};
        std::string result(out);
        opencc_convert_utf8_free(out);
        return result;
    }

  private:
    Simplifier() : m_handle(opencc_open(OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP)) {
        if (m_handle == reinterpret_cast<opencc_t>(-1))
            m_failure = std::string("the traditional-to-simplified tables (OpenCC ") +
                        OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP + ") could not be loaded: " + opencc_error();
    }
    ~Simplifier() {
        if (m_handle != reinterpret_cast<opencc_t>(-1)) opencc_close(m_handle);
    }

    std::mutex m_mutex;
    opencc_t m_handle;
    std::string m_failure;
};

// Decodes one UTF-8 sequence at `i`; invalid bytes are passed through as themselves.
std::uint32_t decode(std::string_view s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (length <= 1 || i + length > s.size()) {
        ++i;
        return length == 1 ? b : 0xFFFFFFFF;
    }
    std::uint32_t cp = b & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFFFFFF;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    i += length;
    return cp;
}

bool isBlank(std::uint32_t cp) {
    return cp == ' ' || cp == '\t' || cp == '\r' || cp == '\n' || cp == 0xA0 || cp == 0x3000;
}

// Blanks trimmed and collapsed, full-width ASCII made half-width; anything else byte for byte.
std::string foldWidthAndBlanks(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    bool pendingBlank = false;
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t start = i;
        std::uint32_t cp = decode(utf8, i);
        if (isBlank(cp)) {
            pendingBlank = !out.empty();
            continue;
        }
        if (pendingBlank) out += ' ';
        pendingBlank = false;
        if (cp >= 0xFF01 && cp <= 0xFF5E)
            out += static_cast<char>(cp - 0xFF01 + 0x21);
        else
            out.append(utf8.substr(start, i - start));
    }
    return out;
}

} // namespace

Expected<std::string> normalFormUtf8(std::string_view utf8) {
    std::string folded = foldWidthAndBlanks(utf8);
    if (std::all_of(folded.begin(), folded.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return folded;
    return Simplifier::instance().convert(folded);
}

Expected<Text> normalForm(std::string_view gbkText) {
    Expected<std::string> utf8 = normalFormUtf8(gbk_to_utf8(gbkText));
    if (!utf8) return utf8.error();
    Text back = utf8_to_gbk(*utf8);
    auto marks = [](std::string_view s) { return std::count(s.begin(), s.end(), '?'); };
    if (marks(back) > marks(gbkText)) return Text(gbkText);
    return back;
}

Expected<Done> normalFormsAvailable() {
    Expected<std::string> probe = Simplifier::instance().convert("體");
    if (!probe) return probe.error();
    return Done{};
}

} // namespace zelkor
