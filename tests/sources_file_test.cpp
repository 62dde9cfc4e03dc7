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
