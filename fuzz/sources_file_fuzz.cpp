// Feeds arbitrary bytes to the sources file reader as a whole file. Whatever the bytes, it answers
// in bounded time and stack: rows that keep every request on its row's host, or a refusal that
// says where and why.
#include "sources/sources_file.h"
#include "sources/url_rules.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// "f.toml:<line>:<column>: <reason>", line and column from 1.
bool placedRefusal(const std::string& error) {
    std::string_view rest = error;
    if (!rest.starts_with("f.toml:")) return false;
    rest.remove_prefix(7);
    for (int part = 0; part < 2; ++part) {
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
            ++digits;
        if (digits == 0 || rest[0] == '0' || digits >= rest.size() || rest[digits] != ':') return false;
        rest.remove_prefix(digits + 1);
    }
    return rest.size() > 2 && rest[0] == ' ';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zelkor;
    static const SourceRows builtIn = builtInSourceRows();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<SourceRows> rows = applySourcesToml(text, "f.toml", builtIn, &error);
    if (!rows) {
        check(placedRefusal(error), "a refusal names the file, line and column");
        return 0;
    }
    check(rows->size() >= builtIn.size(), "a file only mends or adds rows");
    for (const SourceRow& row : *rows) {
        check(authorityProblem(row.host).empty(), "the host is an authority");
        check(prefixProblem(row.prefix).empty() && suffixProblem(row.suffix).empty(),
              "prefix and suffix keep the request on the host");
        check(headerLinesProblem(row.headers).empty() && cookieLineProblem(row.cookies).empty(),
              "headers and cookies add no line");
    }
    // What was taken is written back as a file that reads back to the same rows.
    const std::string written = sourcesToml(*rows);
    const std::optional<SourceRows> again = applySourcesToml(written, "f.toml", builtIn, &error);
    check(again.has_value(), "the written rows load");
    check(sourcesToml(*again) == written, "the written rows read back unchanged");
    return 0;
}
