#include "engine/store/memory_store.h"
#include "engine/store/seen_store.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <iterator>
#include <set>
#include <vector>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

TEST(MarkerName, MapsEachKeywordToOneNameInsideTheStore) {
    struct Case {
        std::string keyword;
        bool fold;
        std::string name;
    };
    const Case cases[] = {
        {"抖音直播", true, "抖音直播.zr"},
        {"QQ空间", true, "qq空间.zr"},
        {"QQ空间", false, "QQ空间.zr"},
        {"a/b", true, "a%2Fb.zr"},
        {"50%", true, "50%25.zr"},
        {"%2F", true, "%252f.zr"},
        {".", true, "%2E.zr"},
        {"..", true, "%2E%2E.zr"},
        {"../x", true, "..%2Fx.zr"},
        {"a\\b", true, "a\\b.zr"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(markerFileName(gbk(c.keyword), c.fold), c.name) << c.keyword;
}

TEST(MarkerName, LongKeywordsAreShortenedToDistinctNames) {
    std::string base;
    for (int i = 0; i < 150; ++i)
        base += "字"; // 450 bytes of UTF-8
    std::set<std::string> names;
    for (const std::string tail : {"a", "b", "A", "/", "%"}) {
        const auto name = markerFileName(gbk(base + tail), true);
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(name.ends_with(".zr"));
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_EQ(name, markerFileName(gbk(base + tail), true)); // the same every time
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 4u); // "a" and "A" fold together
}

TEST(SeenStore, MarksWithEmptyFilesAndFoldsAsciiCase) {
    TempDir dir;
    SeenStore store(SeenStore::defaultDirectory(dir.path()));
    EXPECT_FALSE(store.contains(gbk("抖音直播")));
    EXPECT_FALSE(store.mark(gbk("抖音直播")));
    EXPECT_TRUE(store.contains(gbk("抖音直播")));
    EXPECT_EQ(fs::file_size(dir / "cwls" / "抖音直播.zr"), 0u);

    EXPECT_FALSE(store.mark(gbk("QQ空间")));
    EXPECT_TRUE(store.contains(gbk("Qq空间")));
    EXPECT_FALSE(store.contains(gbk("QQ空")));

    // Path-like keywords stay directly inside the store.
    for (const std::string keyword : {"a/b", "../escape", "..", "?:*"}) {
        EXPECT_FALSE(store.mark(gbk(keyword))) << keyword;
        EXPECT_TRUE(store.contains(gbk(keyword))) << keyword;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        EXPECT_TRUE(entry.is_directory() || entry.path().parent_path() == dir / "cwls") << entry.path();
    EXPECT_FALSE(fs::exists(dir / "escape.zr"));

    // A NUL inside a keyword neither cuts its name short nor makes it another keyword's.
    const Text withNul("n\0b", 3);
    EXPECT_FALSE(store.mark(withNul));
    EXPECT_TRUE(store.contains(withNul));
    EXPECT_FALSE(store.contains("n"));
    EXPECT_FALSE(store.contains(Text("n\0c", 3)));
    EXPECT_TRUE(fs::exists(dir / "cwls" / "n%00b.zr"));
}

TEST(WriteEmptyFile, CreatesParentsTruncatesAndReportsFailures) {
    TempDir dir;
    const auto file = dir / "a" / "b" / "k.zr";
    EXPECT_FALSE(writeEmptyFile(file));
    EXPECT_EQ(fs::file_size(file), 0u);

    test::writeFile(file, "left over");
    EXPECT_FALSE(writeEmptyFile(file));
    EXPECT_EQ(fs::file_size(file), 0u);

    test::writeFile(dir / "plain", "x");
    EXPECT_EQ(writeEmptyFile(dir / "plain" / "k.zr"), std::errc::not_a_directory);
    EXPECT_EQ(writeEmptyFile(dir / "a"), std::errc::is_a_directory);
}

// EPERM is errno 1: a failure with it must not read as success. A sealed memory file refuses to
// shrink with EPERM; reopened through /proc, it makes truncation fail that way.
TEST(WriteEmptyFile, ReportsAPermissionFailure) {
    const int sealed = ::memfd_create("zelkor-sealed", MFD_ALLOW_SEALING | MFD_CLOEXEC);
    ASSERT_GE(sealed, 0);
    ASSERT_EQ(::write(sealed, "x", 1), 1);
    ASSERT_EQ(::fcntl(sealed, F_ADD_SEALS, F_SEAL_SHRINK), 0);
    const std::error_code error = writeEmptyFile("/proc/self/fd/" + std::to_string(sealed));
    EXPECT_EQ(error, std::errc::operation_not_permitted);
    struct stat info {};
    EXPECT_EQ(::fstat(sealed, &info), 0);
    EXPECT_EQ(info.st_size, 1) << "the sealed file kept its byte";
    ::close(sealed);
}

TEST(EmptySeenStore, ShowsBothNoticesAlsoWithoutAStore) {
    TempDir dir;
    ValueControls controls;
    emptySeenStore(dir.path(), controls);
    SeenStore store(SeenStore::defaultDirectory(dir.path()));
    store.mark(gbk("抖音"));
    store.mark(gbk("a/b"));
    emptySeenStore(dir.path(), controls);
    EXPECT_FALSE(fs::exists(dir / "cwls"));
    EXPECT_FALSE(store.contains(gbk("抖音")));
    const std::vector<Text> notice{gbk("开始清理临时数据，建议清理完后再使用本软件"),
                                   gbk("临时数据清理完毕")};
    EXPECT_EQ(controls.notices(), (std::vector<Text>{notice[0], notice[1], notice[0], notice[1]}));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(EmptySeenStore, MarkersWrittenAfterTheEmptyingStartedSurvive) {
    TempDir dir;
    auto controls = std::make_shared<ValueControls>();
    SeenStore store(SeenStore::defaultDirectory(dir.path()));
    for (int i = 0; i < 2000; ++i)
        store.mark(std::to_string(i));

    SeenStoreEmptier emptier;
    for (int round = 0; round < 3; ++round) {
        emptier.start(dir.path(), controls);
        // The run marks while the old tree is still being deleted.
        for (int i = 0; i < 200; ++i)
            ASSERT_FALSE(store.mark("new" + std::to_string(round) + "-" + std::to_string(i)));
    }
    ASSERT_TRUE(emptier.waitIdle(std::chrono::seconds(30)));
    EXPECT_FALSE(store.contains("1"));
    EXPECT_FALSE(store.contains("new0-0")); // emptied by the second round
    for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(store.contains("new2-" + std::to_string(i)));
    // Only the live store is left: no renamed trees.
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        left.push_back(entry.path().filename());
    EXPECT_EQ(left, std::vector<fs::path>{"cwls"});
    EXPECT_EQ(controls->notices().size(), 6u);
}

bool sameRecord(const ResultRecord& a, const ResultRecord& b) {
    return a.keyword == b.keyword && a.sourceName == b.sourceName && a.mainWord == b.mainWord &&
           a.parent == b.parent && a.depth == b.depth && a.time == b.time;
}

// Texts of every size the packing must keep: empty, short, past a varint byte, past a whole block.
std::string sizedText(int i) {
    const std::size_t sizes[] = {0, 1, 11, 127, 128, 300, 70000};
    std::string text = "字" + std::to_string(i) + "-";
    text.resize(sizes[static_cast<std::size_t>(i) % std::size(sizes)] + text.size(), 'x');
    return text;
}

TEST(MemoryResultList, GivesBackEveryRecordExactlyOverAnyRange) {
    MemoryResultList list;
    std::vector<ResultRecord> expected;
    for (int i = 0; i < 3000; ++i) {
        ResultRecord r;
        r.keyword = i % 50 == 0 ? sizedText(i / 50) : "bench-" + std::to_string(i);
        r.sourceName = "source " + std::to_string(i % 3);
        r.mainWord = i < 1500 ? "seed " + std::to_string(i % 2) : "seed " + std::to_string(i); // past the common names
        r.parent = i % 97 == 5 ? "" : i % 11 == 0 ? "parent 0" : "parent " + std::to_string(i / 3); // repeats, not only in a row
        r.depth = i % 13 == 0 ? 0 : i % 17 == 0 ? -1 : i * 1000;
        r.time = "2026-12-10T13:45:" + std::to_string(10 + i / 100) + "+08:00";
        list.append(r);
        expected.push_back(r);
    }
    ASSERT_EQ(list.size(), expected.size());
    const std::pair<std::size_t, std::size_t> ranges[] = {{0, 3000}, {0, 1}, {31, 33}, {32, 64}, {1999, 2501},
                                                          {2999, 5000}, {3000, 3001}, {10, 10}, {20, 5}};
    for (const auto& [from, to] : ranges) {
        const auto got = list.copy(from, to);
        const std::size_t end = std::min<std::size_t>(to, expected.size());
        ASSERT_EQ(got.size(), from < end ? end - from : 0) << from << ".." << to;
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_TRUE(sameRecord(got[i], expected[from + i])) << "record " << from + i;
    }
}

TEST(MemoryKeywordQueue, KeepsOrderAndTextsWhilePushedAndPoppedInTurns) {
    MemoryKeywordQueue queue;
    std::deque<KeywordTask> expected;
    int next = 0;
    const auto check = [&] {
        ASSERT_EQ(queue.size(), expected.size());
        for (const std::size_t position : {std::size_t{0}, std::size_t{1}, std::size_t{7}, expected.size() - 1,
                                           expected.size()}) {
            const auto got = queue.at(position);
            ASSERT_EQ(got.has_value(), position < expected.size()) << position;
            if (!got) continue;
            EXPECT_EQ(got->keyword, expected[position].keyword);
            EXPECT_EQ(got->mainWord, expected[position].mainWord);
            EXPECT_EQ(got->depth, expected[position].depth);
        }
        const auto front = queue.front();
        ASSERT_EQ(front.has_value(), !expected.empty());
        if (front) {
            EXPECT_EQ(front->keyword, expected.front().keyword);
        }
    };
    // Grow, shrink to empty, grow again: blocks are let go and begun anew in between.
    for (const auto& [pushes, pops] : {std::pair{4000, 1000}, {10, 3010}, {0, 5}, {2500, 100}, {300, 2700}}) {
        for (int i = 0; i < pushes; ++i, ++next) {
            KeywordTask task{i % 40 == 0 ? sizedText(next / 40) : "bench-" + std::to_string(next),
                             "seed " + std::to_string(next % 3), next % 5};
            queue.push(task);
            expected.push_back(task);
        }
        check();
        for (int i = 0; i < pops; ++i) {
            queue.pop();
            if (!expected.empty()) expected.pop_front();
            if (i % 500 == 0) check();
        }
        check();
    }
}

} // namespace
} // namespace zelkor
