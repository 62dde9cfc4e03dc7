#include "sources/sources.h"
#include "sources/sources_file.h"
#include "sources/table_source.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

TEST(SourcesFile, DumpReadsBackToTheSameRowsAndText) {
    const SourceRows builtIn = builtInSourceRows();
    const std::string dump = sourcesToml(builtIn);
    EXPECT_EQ(dump.find("\n# 0 百度相关: Baidu desktop web search results page\n[[source]]\nindex = 0\n"
                        "label = \"百度相关\"\n"),
              dump.find("\n# 0 "));
    EXPECT_NE(dump.find("family = \"related_page\"\nfetch = \"plain\"\n"), std::string::npos); // row 21
    EXPECT_NE(dump.find("cut = \"between_then_close\""), std::string::npos);
    EXPECT_NE(dump.find("cleaning = \"remove_underscore_percent\""), std::string::npos);
    EXPECT_NE(dump.find("headers = \"Host: {host}\\r\\nPragma: no-cache\\r\\n"), std::string::npos);
    EXPECT_NE(dump.find("cut_start = \" <div id=\\\"rs\\\"><div class=\\\"tt\\\">相关搜索</div>\""),
              std::string::npos);

    // Read over an empty table the rows are new and must be complete; over the built-in table they
    // replace every key. Both give the built-in rows and print the same text.
    for (const SourceRows& base : {SourceRows{}, builtIn}) {
        std::string error;
        const auto read = applySourcesToml(dump, "dump.toml", base, &error);
        ASSERT_TRUE(read) << error;
        ASSERT_EQ(read->size(), builtIn.size());
        for (std::size_t i = 0; i < builtIn.size(); ++i)
            EXPECT_TRUE((*read)[i] == builtIn[i]) << i;
        EXPECT_EQ(sourcesToml(*read), dump);
    }
}

TEST(SourcesFile, MendsTheGivenKeysAndAddsRowsInIndexOrder) {
    const std::string text = "# moved\n"
                             "[[source]]\nindex = 26\nlabel = \"second\"\nfamily = \"suggestion\"\n"
                             "scheme = \"http\"\nhost = \"b.example\"\nprefix = \"/b?q=\"\n"
                             "[[source]]\nindex = 4\nprefix = \"/v2/sug?q=\"\nheaders = \"X-A: 1\"\n"
                             "[[source]]\nindex = 25\nlabel = \"first\"\nfamily = \"related_page\"\n"
                             "scheme = \"https\"\nhost = \"a.example:8443\"\nprefix = \"/s?q=\"\n"
                             "item_start = \"<li>\"\nitem_end = \"</li>\"\ndisplay_pause_ms = 0\n";
    std::string error;
    const auto rows = applySourcesToml(text, "s.toml", builtInSourceRows(), &error);
    ASSERT_TRUE(rows) << error;
    ASSERT_EQ(rows->size(), 27u);
    const SourceRow& mended = (*rows)[4];
    EXPECT_EQ(mended.prefix, "/v2/sug?q=");
    EXPECT_EQ(mended.headers, "X-A: 1");
    SourceRow rest = mended;
    rest.prefix = source_rows()[4].prefix;
    rest.headers = source_rows()[4].headers;
    EXPECT_TRUE(rest == source_rows()[4]);

    const SourceRow& first = (*rows)[25];
    EXPECT_EQ(first.index, 25);
    EXPECT_EQ(first.outputName, "first"); // the label, when no output name is given
    EXPECT_EQ(first.itemRule, ItemRule::Markers);
    EXPECT_EQ(first.displayPauseMs, 0);
    const SourceRow& second = (*rows)[26];
    EXPECT_EQ(second.itemRule, ItemRule::JsonPaths);
    EXPECT_EQ(second.displayPauseMs, 100);
    EXPECT_EQ(second.fetch, FetchKind::Engine);

    const SourceSet sources = make_sources(*rows, Endpoints{});
    ASSERT_EQ(sources.size(), 27u);
    EXPECT_EQ(sources[25]->listIndex(), 25);
    const auto* table = dynamic_cast<const TableSource*>(sources[25].get());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->requestUrl("a"), "https://a.example:8443/s?q=%61");
}

TEST(SourcesFile, RefusesBrokenFilesWithTheLineAndTheReason) {
    const std::string newRow = "[[source]]\nindex = 25\nlabel = \"n\"\nfamily = \"suggestion\"\n"
                               "scheme = \"http\"\nhost = \"h\"\nprefix = \"/p\"\n";
    struct Case {
        std::string text;
        std::string why; // the refusal names the file, the line and this
    } cases[] = {
        {"[[source]]\nindex = 1\nprefix = \"/x\n", "s.toml:3:"},
        {"[[source]\nindex = 1\n", "s.toml:1:"},
        {"[[source]]\nindex = 1\nprefx = \"/x\"\n", "s.toml:3:1: unknown key \"prefx\""},
        {"sources = 1\n", "s.toml:1:1: unknown key \"sources\""},
        {"[source]\nindex = 1\n", "s.toml:1:2: source must be a list of tables"},
        {"[[source]]\nindex = 1\nfamily = \"related\"\n",
         "s.toml:3:10: family must be one of related_page, suggestion"},
        {"[[source]]\nindex = 1\ncut = \"Between\"\n", "s.toml:3:7: cut must be one of between,"},
        {"[[source]]\nindex = 1\ndecoding = 8\n", "s.toml:3:12: decoding must be one of none, utf8"},
        {"[[source]]\nlabel = \"x\"\n", "s.toml:1:1: a [[source]] table needs an index"},
        {"[[source]]\nindex = \"1\"\n", "s.toml:2:9: index must be a whole number"},
        {"[[source]]\nindex = -1\n", "s.toml:2:9: index must lie between 0 and 999"},
        {"[[source]]\nindex = 1\nstamp_suffix = \"yes\"\n",
         "s.toml:3:16: stamp_suffix must be true or false"},
        {"[[source]]\nindex = 1\ndisplay_pause_ms = 100000\n",
         "display_pause_ms must lie between 0 and 60000"},
        {"[[source]]\nindex = 1\nhost = 7\n", "s.toml:3:8: host must be a string"},
        {"[[source]]\nindex = 1\nlabel = \"a\\u0000b\"\n", "label must not hold a NUL character"},
        {"[[source]]\nindex = 1\n\n[[source]]\nindex = 1\n",
         "s.toml:5:9: index 1 is given twice (first on line 2)"},
        {"[[source]]\nindex = 25\nlabel = \"n\"\nfamily = \"suggestion\"\nscheme = \"http\"\nhost = \"h\"\n",
         "s.toml:1:1: the new source 25 needs the key prefix"},
        {newRow + "[[source]]\nindex = 27\nlabel = \"n\"\nfamily = \"suggestion\"\nscheme = \"http\"\nhost = "
                  "\"h\"\nprefix = \"/p\"\n",
         "s.toml:9:9: index 27 leaves a gap: the next new source is 26"},
        {"[[source]]\nindex = 26\nlabel = \"n\"\nfamily = \"suggestion\"\nscheme = \"http\"\nhost = \"h\"\n"
         "prefix = \"/p\"\n",
         "index 26 leaves a gap: the next new source is 25"},
        {"[[source]]\nindex = 3\nscheme = \"ftp\"\n", "s.toml:1:1: scheme must be \"http\" or \"https\""},
        {"[[source]]\nindex = 3\nhost = \"a.example/path\"\n", "host must be a host name"},
        {"[[source]]\nindex = 3\nitem_rule = \"markers\"\n", "needs family \"related_page\""},
        {"[[source]]\nindex = 0\nitem_end = \"\"\n", "item_rule \"markers\" needs item_start and item_end"},
        {"[[source]]\nindex = 4\ncut = \"remove_literal\"\n", "cut \"remove_literal\" needs cut_start"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(applySourcesToml(c.text, "s.toml", builtInSourceRows(), &error)) << c.text;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.text << "\n  gave: " << error;
    }
}

// Files written to hurt: too deep for the parser, too large to read, or a row that would send the
// request somewhere else or add lines to it. Each is refused at load, with where and why.
TEST(SourcesFile, RefusesHostileFilesBeforeAnythingIsSent) {
    const auto row = [](const std::string& key, const std::string& value) {
        return "[[source]]\nindex = 1\n" + key + " = \"" + value + "\"\n";
    };
    const auto repeat = [](const std::string& piece, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += piece;
        return out;
    };
    struct Case {
        const char* name;
        std::string text;
        std::string why;
    } cases[] = {
        {"deep table header", "[" + repeat("a.", 40000) + "a]\n", "s.toml:1:65: nested deeper than 32"},
        {"deep array of tables header", "[[" + repeat("a.", 40000) + "a]]\n", "s.toml:1:64: nested deeper"},
        {"deep dotted key", "x = 1\n" + repeat("a.", 40000) + "a = 1\n", "s.toml:2:66: nested deeper"},
        {"deep arrays", "x = " + repeat("[", 40000) + "\n", "s.toml:1:37: nested deeper"},
        {"deep inline tables", "x = " + repeat("{a=", 40000) + "\n", "s.toml:1:101: nested deeper"},
        {"brackets inside strings do not count", "[[source]]\nindex = 1\nlabel = \"" + repeat("[", 100) +
                                                    "\"\nprefix = '/" + repeat("{", 100) + "'\nx = 1\n",
         "s.toml:5:1: unknown key \"x\""},
        {"larger than 1 MiB", "[[source]]\nindex = 1\nlabel = \"" + std::string(2 << 20, 'x') + "\"\n",
         "s.toml:1:1: the file is larger than 1048576 bytes"},
        {"a control character in a string", "[[source]]\nindex = 1\nlabel = 'a\x15" "b'\n",
         "s.toml:3:11: a control character (byte 21)"},
        {"a NUL after a value", std::string("[[source]]\nindex = 1") + '\0' + "\n", "s.toml:2:10: a control character (byte 0)"},
        {"a lone CR", "[[source]]\rindex = 1\n", "s.toml:1:11: a control character (byte 13)"},
        {"bytes that are not UTF-8", "[[source]]\nindex = 1\nlabel = \"\xff\"\n", "s.toml:3:10: bytes that are not UTF-8"},
        {"a surrogate in UTF-8 form", "[[source]]\nindex = 1\nlabel = \"\xed\xa0\x80\"\n", "bytes that are not UTF-8"},
        {"a character past ASCII outside a string", "[[source]]\nindex = 1\n\xca\x87 = 1\n",
         "s.toml:3:1: a character past ASCII outside a quoted string"},
        {"a quote inside a bare word", "[[source]]\nindex = 0x*\"\xca\x87\"\n",
         "s.toml:2:13: a character past ASCII outside a quoted string"},
        {"a quoted key", "[[source]]\nindex = 1\n\"\xd0\xb6\" = 1\n", "s.toml:3:1: a key is a bare name"},
        {"a quoted table header", "[[\"\"\"oc\ne]]\n", "s.toml:1:3: a table header is a bare name"},
        {"a bare value past ASCII", "[[source]]\nindex = 1\nstamp_suffix = t\xd0\xb6\n",
         "s.toml:3:17: a character past ASCII outside a quoted string"},
        {"a string followed by more", "[[source]]\nindex = 1\nlabel = \"a\" b\n",
         "s.toml:3:13: only a comment may follow on this line"},
        {"a line-ending backslash before a character past ASCII",
         "[[source]]\nindex = 1\nlabel = \"\"\"a\\\n  \xd0\xb6\"\"\"\n",
         "s.toml:4:3: a line-ending backslash must not be followed by a character past ASCII"},
        {"an array spread over lines", "[[source]]\nindex = 1\nx = [\n\"\xd0\xb6\"]\n", "s.toml:4:1: a key is a bare name"},
        {"a backslash before a character past ASCII", "[[source]]\nindex = 1\nlabel = \"a\\\xcc\x8c\"\n",
         "s.toml:3:12: a backslash in a string must be followed by"},
        {"user part in the prefix", row("prefix", "@127.0.0.1:38200/sug?q="), "s.toml:3:10: prefix must begin with \"/\""},
        {"at sign later in the prefix", row("prefix", "/sug@127.0.0.1/?q="), "prefix must not hold \"@\" (byte 5)"},
        {"another host by a dot", row("prefix", ".evil.example/?q="), "prefix must begin with"},
        {"another port", row("prefix", ":8080/?q="), "prefix must begin with"},
        {"scheme-relative prefix", row("prefix", "//evil.example/?q="), "prefix must not begin with \"//\""},
        {"backslash in the prefix", row("prefix", "/\\\\evil.example"), "prefix must not hold \"\\\" (byte 2)"},
        {"CR LF in the prefix", row("prefix", "/s?q=\\r\\nX: 1"), "prefix must not hold the byte 0x0D (byte 6)"},
        {"space in the prefix", row("prefix", "/s q="), "prefix must not hold a space (byte 3)"},
        {"NUL in the suffix", row("suffix", "&a\\u0000"), "suffix must not hold a NUL character"},
        {"LF in the suffix", row("suffix", "&a\\nb"), "suffix must not hold the byte 0x0A (byte 3)"},
        {"at sign in the suffix", row("suffix", "&u=a@b"), "suffix must not hold \"@\" (byte 5)"},
        {"tab in the suffix", row("suffix", "&a\\tb"), "suffix must not hold the byte 0x09"},
        {"cookie header injected", row("cookies", "a=b\\r\\nX-Cookie-Inject: 1"),
         "s.toml:3:11: cookies must not hold the byte 0x0D (byte 4)"},
        {"bare LF in a cookie", row("cookies", "a=b\\nc=d"), "cookies must not hold the byte 0x0A"},
        {"bare LF in the headers", row("headers", "A: b\\nX-Inject: 1"), "headers must not hold the byte 0x0A (byte 5)"},
        {"bare CR in the headers", row("headers", "A: b\\rX: 1"), "headers must not hold the byte 0x0D"},
        {"empty line ends the header", row("headers", "A: b\\r\\n\\r\\nGET / HTTP/1.1"),
         "headers must not hold an empty line (byte 7)"},
        {"CR LF at the end of the headers", row("headers", "A: b\\r\\n"), "headers must not hold an empty line"},
        {"header line without a name", row("headers", "A: b\\r\\n: c"), "has no name"},
        {"NUL in the headers", row("headers", "A: b\\u0000"), "headers must not hold a NUL"},
        {"vertical tab in the host", row("host", "a\\u000Bb.example"), "s.toml:3:8: host must be a host name"},
        {"percent-encoded at sign in the host", row("host", "user%40evil.example"), "it holds \"%\" (byte 5)"},
        {"backslash in the host", row("host", "a\\\\b"), "it holds \"\\\""},
        {"user in the host", row("host", "u@h.example"), "it holds \"@\""},
        {"port past 65535", row("host", "h.example:99999"), "port must be a number from 1 to 65535"},
        {"port 0", row("host", "h.example:0"), "port must be a number from 1 to 65535"},
        {"port with a sign", row("host", "h.example:+80"), "port must be a number"},
        {"unclosed IPv6 address", row("host", "[::1"), "needs its closing \"]\""},
        {"IPv6 with a zone", row("host", "[fe80::1%25eth0]"), "the IPv6 address must not hold \"%\""},
        {"empty host", row("host", ""), "host must not be empty"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(applySourcesToml(c.text, "s.toml", builtInSourceRows(), &error)) << c.name;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.name << "\n  gave: " << error;
    }

    // What a mended row may still say.
    for (const std::string& fine : {row("label", "百度相关 ʇ"), "\xEF\xBB\xBF# 注释 ʇ\r\n" + row("label", "x"),
                                    std::string("[[source]]\nindex = 1\nlabel = '''a\r\n\tb'''\n"),
                                    std::string("[[source]]\nindex = 1 # \xd0\xb6\nlabel = \"\"\"\xd0\xb6\\\n  x\"\"\"\"\n"),
                                    row("host", "[::1]:8080"), row("host", "127.0.0.1:1"), row("host", "a-b_c.example"),
                                    row("prefix", "?q="), row("headers", "A: b\\r\\nC: {host}"),
                                    row("cookies", "a=b; c=d")}) {
        std::string error;
        EXPECT_TRUE(applySourcesToml(fine, "s.toml", builtInSourceRows(), &error)) << fine << "\n  gave: " << error;
    }

    // A label with a line break is printed back as a file that still reads, not as a new line.
    {
        std::string error;
        const auto rows = applySourcesToml(row("label", "n\\r\\nC: d"), "s.toml", builtInSourceRows(), &error);
        ASSERT_TRUE(rows) << error;
        const std::string dump = sourcesToml(*rows);
        const auto again = applySourcesToml(dump, "s.toml", builtInSourceRows(), &error);
        ASSERT_TRUE(again) << error;
        EXPECT_EQ(sourcesToml(*again), dump);
        EXPECT_EQ((*again)[1].label, "n\r\nC: d");
    }

    // A device that never ends, and a file far past the cap, are read only up to it.
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(loadSourcesFile("/dev/zero", &error));
    EXPECT_EQ(error, "/dev/zero:1:1: the file is larger than 1048576 bytes (1 MiB); a sources file holds a few rows");
    test::writeFile(dir / "big.toml", "[[source]]\nindex = 1\nlabel = \"" + std::string(20 << 20, 'x') + "\"\n");
    EXPECT_FALSE(loadSourcesFile(dir / "big.toml", &error));
    EXPECT_NE(error.find("big.toml:1:1: the file is larger than"), std::string::npos) << error;
}

TEST(SourcesFile, ComesFromTheNamedFileElseTheHome) {
    test::TempDir dir;
    std::string error;
    auto rows = loadSources(dir.path(), {}, &error);
    ASSERT_TRUE(rows) << error;
    EXPECT_EQ(rows->size(), static_cast<std::size_t>(kSourceCount));

    std::filesystem::create_directories(dir / "data");
    test::writeFile(dir / "data" / "sources.toml", "[[source]]\nindex = 2\nlabel = \"home\"\n");
    rows = loadSources(dir.path(), {}, &error);
    ASSERT_TRUE(rows) << error;
    EXPECT_EQ((*rows)[2].label, "home");

    test::writeFile(dir / "named.toml", "[[source]]\nindex = 2\nlabel = \"named\"\n");
    rows = loadSources(dir.path(), dir / "named.toml", &error);
    ASSERT_TRUE(rows) << error;
    EXPECT_EQ((*rows)[2].label, "named");

    EXPECT_FALSE(loadSources(dir.path(), dir / "missing.toml", &error));
    EXPECT_NE(error.find("missing.toml: cannot read the sources file"), std::string::npos) << error;
    EXPECT_FALSE(loadSources(dir.path(), dir / "data", &error));
    test::writeFile(dir / "data" / "sources.toml", "[[source]]\nindex = 2\nlable = \"home\"\n");
    EXPECT_FALSE(loadSources(dir.path(), {}, &error));
    EXPECT_NE(error.find("sources.toml:3:1: unknown key \"lable\""), std::string::npos) << error;
}

} // namespace
} // namespace zelkor
