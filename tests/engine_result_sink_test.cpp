#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/run/result_sink.h"
#include "engine/store/memory_store.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <set>

namespace zelkor {
namespace {

using Strings = std::vector<std::string>;

// The run's side for a sink under test: a stopped flag and the pauses it asked for.
class TestGate final : public RunGate {
  public:
    bool stopped = false;
    bool limitHalt = false;
    bool storeHalt = false;
    std::vector<int> pauses;
    bool halted() const override { return stopped || limitHalt || storeHalt; }
    bool effect(const std::function<void()>& action) override {
        if (stopped) return false;
        action();
        return true;
    }
    bool outside(const std::function<void()>& work) override { return effect(work); }
    bool pause(std::chrono::milliseconds duration) override {
        pauses.push_back(static_cast<int>(duration.count()));
        return !halted();
    }
    void haltAtLimit() override { limitHalt = true; }
    void haltForStore() override { storeHalt = true; }
};

// A store kept wholly in memory, standing in for one kept elsewhere.
class MemoryStore final : public RunStore {
  public:
    class Seen final : public SeenSet {
      public:
        std::set<Text> keys;
        bool full = false; // inserts fail, as on a full disk
        bool contains(const Text& keyword) const override { return keys.count(keyword) != 0; }
        bool insert(const Text& keyword) override { return !full && keys.insert(keyword).second; }
        std::string failure() const override { return "store (full)"; }
    };
    KeywordQueue& queue() override { return m_queue; }
    SeenSet& seen() override { return m_seen; }
    ResultList& results() override { return m_results; }
    MemoryKeywordQueue m_queue;
    Seen m_seen;
    MemoryResultList m_results;
};

// Refuses phrases longer than a byte count, without a notice.
class LengthFilter final : public CandidateFilter {
  public:
    std::optional<Text> refuse(const Candidate& candidate) const override {
        if (candidate.text.size() > 8) return Text();
        return std::nullopt;
    }
};

class SinkTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    ValueControls controls;
    TestGate gate;
    MemoryStore store;

    void SetUp() override {
        applyWindowDefaults(controls, dir.path());
        controls.setText(ctl::kLimit, "0");
    }
    Candidate candidate(const std::string& text, int pause = 100) {
        return {gbk(text), gbk("360搜索"), gbk("抖音"), pause, gbk("抖音直播"), 2};
    }
    Strings notices() {
        Strings out;
        for (const auto& n : controls.notices())
            out.push_back(gbk_to_utf8(n));
        return out;
    }
    Strings queued() {
        Strings out;
        while (auto task = store.queue().front()) {
            EXPECT_EQ(task->depth, 2);
            out.push_back(gbk_to_utf8(task->keyword));
            store.queue().pop();
        }
        return out;
    }
    Strings shown() {
        Strings out;
        for (const auto& r : store.results().all())
            out.push_back(gbk_to_utf8(r.keyword));
        return out;
    }
};

TEST_F(SinkTest, EachStageDecidesInItsOrder) {
    ResultSink sink(controls, store, gate, false);
    sink.addFilter(std::make_unique<ForbiddenWordsFilter>(std::vector<Text>{gbk("QQ")}));
    sink.addFilter(std::make_unique<LengthFilter>());
    struct Case {
        std::string phrase;
        bool accepted;
    };
    const Case cases[] = {
        {"抖音1", true},       // shown
        {"QQ抖音", false},     // forbidden: notice, never remembered
        {"抖音抖音抖音", false}, // refused by the added filter, silently, never remembered
        {"抖音1", false},      // seen
        {"快手", true},        // queued but not shown: no main word
        {"", false},           // empty
        {"抖音2", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sink.offer(candidate(c.phrase)), c.accepted) << c.phrase;

    EXPECT_EQ(notices(), (Strings{"当前词语：QQ抖音  含有违禁词：QQ  不使用", "抖音1  已采集过，不再重复采集"}));
    EXPECT_FALSE(store.seen().contains(gbk("QQ抖音")));
    EXPECT_FALSE(store.seen().contains(gbk("抖音抖音抖音")));
    EXPECT_TRUE(store.seen().contains(gbk("快手")));
    EXPECT_EQ(queued(), (Strings{"抖音1", "快手", "抖音2"}));
    EXPECT_EQ(shown(), (Strings{"抖音1", "抖音2"}));
    EXPECT_EQ(sink.accepted(), 3);
    const auto first = store.results().all().front();
    EXPECT_EQ(gbk_to_utf8(first.parent), "抖音直播");
    EXPECT_EQ(first.depth, 2);
    EXPECT_FALSE(first.time.empty());
    EXPECT_EQ(gbk_to_utf8(controls.text(ctl::kPanel)),
              "\r\n1 来源：360搜索  主词：抖音  keyword：抖音1"
              "\r\n\r\n当前词语：QQ抖音  含有违禁词：QQ  不使用\r\n"
              "\r\n\r\n抖音1  已采集过，不再重复采集\r\n"
              "\r\n3 来源：360搜索  主词：抖音  keyword：抖音2");
    EXPECT_EQ(gbk_to_utf8(controls.text(ctl::kCountLabel)), "当前词数：3");
    // 10 ms, then the source's pause, for each shown phrase only.
    EXPECT_EQ(gate.pauses, (std::vector<int>{10, 100, 10, 100}));
}

TEST_F(SinkTest, HitsCountEveryOfferAndEveryService) {
    ResultSink sink(controls, store, gate, false);
    sink.setPauses(false);
    sink.setCountHits(true);
    auto from = [&](const std::string& phrase, const std::string& source) {
        Candidate c = candidate(phrase);
        c.sourceName = gbk(source);
        return sink.offer(c);
    };
    EXPECT_TRUE(from("抖音1", "360搜索"));
    EXPECT_FALSE(from("抖音1", "百度下拉"));
    EXPECT_FALSE(from("抖音1", "360搜索"));
    EXPECT_TRUE(from("抖音2", "百度下拉"));
    EXPECT_TRUE(from("快手", "百度下拉")); // not shown: no main word, so no result to count against
    EXPECT_FALSE(from("快手", "360搜索"));
    const auto results = store.results().all();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].hits, 3);
    EXPECT_EQ(results[0].services, 2);
    EXPECT_EQ(results[1].hits, 1);
    EXPECT_EQ(results[1].services, 1);
    // The panel is as it always was.
    EXPECT_EQ(notices(), (Strings{"抖音1  已采集过，不再重复采集", "抖音1  已采集过，不再重复采集",
                                  "快手  已采集过，不再重复采集"}));
}

TEST_F(SinkTest, WithoutCountingResultsCarryNoHits) {
    ResultSink sink(controls, store, gate, false);
    sink.setPauses(false);
    sink.offer(candidate("抖音1"));
    sink.offer(candidate("抖音1"));
    EXPECT_EQ(store.results().all().at(0).hits, 0);
}

TEST_F(SinkTest, DepthBoundShowFiltersAndNormalForms) {
    struct Case {
        std::string name;
        std::function<void(ResultSink&)> setUp;
        std::vector<std::pair<std::string, int>> offers; // phrase, depth
        Strings queued, shown;
    };
    const Case cases[] = {
        {"depth bound: the phrase at the bound is a result, not asked",
         [](ResultSink& s) { s.setMaxDepth(2); },
         {{"抖音1", 1}, {"抖音2", 2}, {"抖音3", 3}},
         {"抖音1"},
         {"抖音1", "抖音2", "抖音3"}},
        {"walk filter: dropped from the walk and the results",
         [](ResultSink& s) { s.addFilter(std::make_unique<LengthFilter>()); },
         {{"抖音1", 1}, {"抖音抖音抖音", 1}},
         {"抖音1"},
         {"抖音1"}},
        {"show filter: walked through, left out of the results",
         [](ResultSink& s) { s.addFilter(std::make_unique<LengthFilter>(), ResultSink::FilterRole::Show); },
         {{"抖音1", 1}, {"抖音抖音抖音", 1}},
         {"抖音1", "抖音抖音抖音"},
         {"抖音1"}},
        {"normal forms: near-duplicates meet",
         [](ResultSink& s) { s.setNormalForms(true); },
         {{"  抖音　直播間 ", 1}, {"抖音 直播间", 1}, {"抖音ＡＢ", 1}},
         {"抖音 直播间", "抖音AB"},
         {"抖音 直播间", "抖音AB"}},
    };
    for (const Case& c : cases) {
        MemoryStore fresh;
        ResultSink sink(controls, fresh, gate, false);
        sink.setPauses(false);
        c.setUp(sink);
        for (const auto& [phrase, depth] : c.offers) {
            Candidate offered = candidate(phrase);
            offered.depth = depth;
            sink.offer(offered);
        }
        Strings queued, shown;
        while (auto task = fresh.queue().front()) {
            queued.push_back(gbk_to_utf8(task->keyword));
            fresh.queue().pop();
        }
        for (const auto& r : fresh.results().all()) shown.push_back(gbk_to_utf8(r.keyword));
        EXPECT_EQ(queued, c.queued) << c.name;
        EXPECT_EQ(shown, c.shown) << c.name;
    }
}

TEST_F(SinkTest, PausesOffAndTheLimit) {
    controls.setText(ctl::kLimit, "2");
    ResultSink sink(controls, store, gate, false);
    sink.setPauses(false);
    EXPECT_TRUE(sink.offer(candidate("抖音1")));
    EXPECT_FALSE(sink.limitReached());
    EXPECT_TRUE(sink.offer(candidate("抖音2")));
    EXPECT_EQ(sink.limitReached(), 2);
    EXPECT_TRUE(gate.limitHalt);
    EXPECT_FALSE(sink.offer(candidate("抖音3"))); // halted: nothing more taken
    EXPECT_TRUE(gate.pauses.empty());
    EXPECT_EQ(shown(), (Strings{"抖音1", "抖音2"}));
}

TEST_F(SinkTest, APhraseTheSeenSetCannotRecordHaltsTheRun) {
    ResultSink sink(controls, store, gate, false);
    EXPECT_TRUE(sink.offer(candidate("抖音1", 0)));
    store.m_seen.full = true;
    EXPECT_FALSE(sink.offer(candidate("抖音2", 0)));
    EXPECT_TRUE(gate.storeHalt);
    EXPECT_FALSE(sink.offer(candidate("抖音3", 0))); // halted: not even tried
    EXPECT_EQ(queued(), Strings{"抖音1"});
    EXPECT_EQ(shown(), Strings{"抖音1"});
    EXPECT_EQ(notices(), Strings{"已采集记录无法写入：store (full)，采集已停止"});
}

TEST_F(SinkTest, AStoppedRunRecordsNothing) {
    ResultSink sink(controls, store, gate, false);
    gate.stopped = true;
    EXPECT_FALSE(sink.offer(candidate("抖音1")));
    EXPECT_FALSE(store.seen().contains(gbk("抖音1")));
    EXPECT_EQ(store.queue().size(), 0u);
    EXPECT_TRUE(notices().empty());
}

TEST_F(SinkTest, UnattendedHangsUpButShowsNothing) {
    controls.setChecked(ctl::kHangup, true);
    controls.setText(ctl::kHangupDir, pathToGbk(dir / "kw"));
    DefaultRunStore files(dir.path()); // the marker files of every run
    ResultSink sink(controls, files, gate, true);
    EXPECT_TRUE(sink.offer(candidate("抖音A")));
    EXPECT_TRUE(sink.offer(candidate("快手"))); // no main word: no hang-up file
    EXPECT_TRUE(std::filesystem::exists(dir / "kw" / "抖音A.zr"));
    EXPECT_FALSE(std::filesystem::exists(dir / "kw" / "快手.zr"));
    EXPECT_TRUE(SeenStore(dir / "cwls").contains(gbk("抖音a"))); // the store folds case
    EXPECT_EQ(files.results().size(), 0u);
    EXPECT_EQ(files.queue().size(), 2u);
    EXPECT_EQ(gate.pauses, std::vector<int>{10}); // no display pause when nothing is shown
}

} // namespace
} // namespace zelkor
