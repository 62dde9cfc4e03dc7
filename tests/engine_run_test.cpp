#include "support/scripted_sources.h"

#include "engine/core/command_line.h"
#include "engine/core/file_lock.h"
#include "engine/core/program_dir.h"
#include "engine/store/seen_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <set>
#include <thread>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::EventLog;
using test::ScriptedSource;
using test::TempDir;
using test::u8;

using Strings = std::vector<std::string>;

class RunTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    std::shared_ptr<ValueControls> controls = test::makeControls(dir.path(), {0, 1, 5});
    std::mutex outputMutex;
    Strings output; // every text the panel received, UTF-8
    std::vector<RunEnd> ended;

    void SetUp() override {
        controls->setOutputListener([this](const Text& text) {
            std::lock_guard lock(outputMutex);
            output.push_back(u8(text));
        });
    }

    Strings lines() {
        std::lock_guard lock(outputMutex);
        Strings out;
        for (const auto& o : output)
            if (o.rfind("\r\n\r\n", 0) != 0) out.push_back(o);
        return out;
    }
    Strings notices() {
        Strings out;
        for (const auto& n : controls->notices())
            out.push_back(u8(n));
        return out;
    }

    SourceSet sources(std::initializer_list<std::pair<int, ScriptedSource::Script>> scripts) {
        static const char* names[] = {"百度相关", "百度下拉", "", "", "", "360搜索"};
        SourceSet set;
        for (const auto& [index, script] : scripts)
            set.push_back(
                std::make_unique<ScriptedSource>(index, names[index], index < 2 ? 0 : 100, script, log));
        return set;
    }

    std::unique_ptr<MiningRun> makeRun(SourceSet set, bool unattended = false) {
        RunOptions options;
        options.home = dir.path();
        options.unattended = unattended;
        options.wait = test::recordingWait(log);
        options.onEnded = [this](RunEnd how) { ended.push_back(how); };
        return std::make_unique<MiningRun>(controls, std::move(set), std::move(options));
    }

    std::unique_ptr<MiningRun> runToEnd(SourceSet set, bool unattended = false) {
        auto run = makeRun(std::move(set), unattended);
        run->start();
        EXPECT_TRUE(run->waitUntilDone(std::chrono::seconds(20)));
        return run;
    }
};

TEST_F(RunTest, AsksSourcesInGroupsWithDelayWaitsAndSavesAfterEachQueueStep) {
    controls->setText(ctl::kDelay, gbk("２"));
    auto run = runToEnd(sources({{0, {{"抖音", {"抖音直播"}}}}, {1, {}}, {5, {{"快手", {"快手极速版"}}}}}));

    const Strings expected = {
        "q0:抖音",       "w10",           "q1:抖音", "w2000",         "q5:抖音", "w2000",          // seed 1
        "q0:快手",       "q1:快手",       "w2000",   "q5:快手",       "w10",     "w100",  "w2000", // seed 2
        "q0:抖音直播",   "q1:抖音直播",   "w2000",   "q5:抖音直播",   "w2000",                     // queue
        "q0:快手极速版", "q1:快手极速版", "w2000",   "q5:快手极速版", "w2000",
    };
    EXPECT_EQ(log->events(), expected);
    EXPECT_EQ(lines(), (Strings{"\r\n1 来源：百度相关  主词：抖音  keyword：抖音直播",
                                "\r\n2 来源：360搜索  主词：快手  keyword：快手极速版"}));
    const std::string saved =
        "已帮您自动保存数据，保存路径为：" + (dir.path() / "Zelkor长尾词_抖音快手.txt").string();
    // Saved after each seed and after each step of the queue.
    EXPECT_EQ(notices(), (Strings{saved, saved, "当前待索引任务2", saved, saved}));
    EXPECT_EQ(u8(controls->text(ctl::kCountLabel)), "当前词数：2");
    EXPECT_EQ(test::readFile(dir / "Zelkor长尾词_抖音快手.txt"), gbk("抖音直播\r\n快手极速版\r\n"));
    EXPECT_EQ(run->end(), RunEnd::QueueDry);
    EXPECT_EQ(ended, std::vector<RunEnd>{RunEnd::QueueDry});
    EXPECT_FALSE(controls->closeRequested());
}

TEST_F(RunTest, WalksBreadthFirstAndDescendantsKeepTheirSeed) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setText(ctl::kDelay, "0");
    auto run = runToEnd(sources({{0,
                                  {{"抖音", {"抖音直播", "快手直播", "抖音极速版"}},
                                   {"抖音直播", {"抖音直播间"}},
                                   {"快手直播", {"快手直播抖音", "快手"}},
                                   {"抖音极速版", {"抖音"}}}}}));

    EXPECT_EQ(log->only('q'), (Strings{"q0:抖音", "q0:抖音直播", "q0:快手直播", "q0:抖音极速版",
                                       "q0:抖音直播间", "q0:快手直播抖音", "q0:快手", "q0:抖音"}));
    // Counts jump over the accepted phrases that lack the main word.
    EXPECT_EQ(lines(), (Strings{"\r\n1 来源：百度相关  主词：抖音  keyword：抖音直播",
                                "\r\n3 来源：百度相关  主词：抖音  keyword：抖音极速版",
                                "\r\n4 来源：百度相关  主词：抖音  keyword：抖音直播间",
                                "\r\n5 来源：百度相关  主词：抖音  keyword：快手直播抖音",
                                "\r\n7 来源：百度相关  主词：抖音  keyword：抖音"}));
    EXPECT_EQ(run->acceptedCount(), 7);
    const auto results = run->results();
    ASSERT_EQ(results.size(), 5u);
    for (const auto& r : results) {
        EXPECT_EQ(u8(r.mainWord), "抖音");
        EXPECT_EQ(u8(r.sourceName), "百度相关");
    }
    // The seed came back as a phrase and was accepted; querying it again finds only known phrases.
    const Strings n = notices();
    EXPECT_EQ(n.at(1), "当前待索引任务3"); // after the seed's save
    EXPECT_EQ(std::count(n.begin(), n.end(), "抖音直播  已采集过，不再重复采集"), 1);
    EXPECT_EQ(std::count(n.begin(), n.end(), "快手直播  已采集过，不再重复采集"), 1);
    // A phrase without the main word is still marked.
    EXPECT_TRUE(SeenStore(dir / "cwls").contains(gbk("快手直播")));
}

TEST_F(RunTest, WithoutTheMainWordTestEveryAcceptedPhraseIsShown) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setChecked(ctl::kMainWordOnly, false);
    auto run = runToEnd(sources({{0, {{"抖音", {"快手", "", "抖音"}}}}}));
    EXPECT_EQ(lines(), (Strings{"\r\n1 来源：百度相关  主词：抖音  keyword：快手",
                                "\r\n2 来源：百度相关  主词：抖音  keyword：抖音"}));
}

TEST_F(RunTest, ForbiddenWordsAreCaseSensitiveFirstEntryWinsAndNothingIsMarked) {
    controls->setText(ctl::kSeeds, gbk("群"));
    controls->setText(ctl::kForbidden, gbk("\r\nQQ\r\n\r\nqq\r\n直播\r\n"));
    auto run = runToEnd(sources({{0, {{"群", {"QQ群", "Qq群", "qq直播群", "QQ群"}}}}}));
    EXPECT_EQ(u8(controls->text(ctl::kForbidden)), "QQ\r\nqq\r\n直播"); // written back
    const Strings expected = {"当前词语：QQ群  含有违禁词：QQ  不使用",
                              "当前词语：qq直播群  含有违禁词：qq  不使用",
                              "当前词语：QQ群  含有违禁词：QQ  不使用"};
    Strings n = notices();
    n.resize(3);
    EXPECT_EQ(n, expected);
    EXPECT_EQ(lines(), Strings{"\r\n1 来源：百度相关  主词：群  keyword：Qq群"});
    EXPECT_FALSE(SeenStore(dir / "cwls").contains(gbk("qq直播群")));
}

TEST_F(RunTest, PrepareCleansTheForbiddenWords) {
    struct Case {
        std::string text;
        std::string cleaned;
        Strings entries;
    };
    const Case cases[] = {
        {"\r\n成人\r\n\r\n色情\r\n", "成人\r\n色情", {"成人", "色情"}},
        {"a\r\n\r\n", "a\r", {"a\r"}},
        {"a\r\n\r\n\r\nb", "a\r\nb", {"a", "b"}},
        {"\r\n\r\n", "", {}},
        {"", "", {}},
    };
    for (const auto& c : cases) {
        controls->setText(ctl::kForbidden, gbk(c.text));
        auto run = makeRun({});
        EXPECT_EQ(u8(controls->text(ctl::kForbidden)), c.cleaned) << c.text;
        Strings entries;
        for (const auto& e : run->forbiddenWords())
            entries.push_back(u8(e));
        EXPECT_EQ(entries, c.entries) << c.text;
    }
}

TEST_F(RunTest, DelayTextIsReadWithTheIntegerRule) {
    struct Case {
        std::string delay;
        std::string wait;
    };
    for (const Case& c : {Case{"0", "w0"}, Case{"", "w0"}, Case{"abc", "w0"}, Case{"２", "w2000"},
                          Case{" 3秒", "w3000"}, Case{"-1", "w-1000"}}) {
        log = std::make_shared<EventLog>();
        controls->setText(ctl::kSeeds, "a\r\n\r\nb");
        controls->setText(ctl::kDelay, gbk(c.delay));
        auto run = runToEnd({}); // no source: two waits per seed, the empty seed included
        EXPECT_EQ(log->events(), Strings(6, c.wait)) << c.delay;
        EXPECT_EQ(notices().back(), "当前待索引任务0");
    }
}

TEST_F(RunTest, NoSeedsEndsAtOnceWithoutNoticeOrClosing) {
    controls->setText(ctl::kSeeds, "");
    auto run = runToEnd(sources({{0, {}}}), true);
    EXPECT_TRUE(log->events().empty());
    EXPECT_TRUE(notices().empty());
    EXPECT_FALSE(controls->closeRequested());
    EXPECT_EQ(run->end(), RunEnd::NoSeeds);
}

TEST_F(RunTest, CountLimitEndsAnAttendedRunAfterShowingThatPhrase) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setText(ctl::kLimit, gbk("２"));
    auto run =
        runToEnd(sources({{0, {{"抖音", {"抖音1", "快手", "抖音2", "抖音3"}}}}, {1, {{"抖音", {"抖音4"}}}}}));
    EXPECT_EQ(log->only('q'), Strings{"q0:抖音"});
    EXPECT_EQ(lines(), (Strings{"\r\n1 来源：百度相关  主词：抖音  keyword：抖音1",
                                "\r\n3 来源：百度相关  主词：抖音  keyword：抖音2"}));
    EXPECT_EQ(run->acceptedCount(), 3);
    EXPECT_EQ(notices().back(), "已达到挖掘数量上限2，采集结束");
    EXPECT_EQ(test::readFile(dir / "Zelkor长尾词_抖音.txt"), gbk("抖音1\r\n抖音2\r\n"));
    EXPECT_FALSE(controls->closeRequested());
    EXPECT_EQ(ended, std::vector<RunEnd>{RunEnd::LimitReached});
}

TEST_F(RunTest, CountLimitOfZeroOrLessMeansNone) {
    for (const std::string limit : {"0", "-3", "abc"}) {
        controls->setText(ctl::kSeeds, gbk("抖音"));
        controls->setText(ctl::kLimit, limit);
        auto run = runToEnd(sources({{0, {{"抖音", {"抖音1", "抖音2", "抖音3"}}}}}));
        EXPECT_EQ(run->results().size(), 3u) << limit;
        EXPECT_EQ(run->end(), RunEnd::QueueDry);
        emptySeenStore(dir.path(), *controls);
    }
}

TEST_F(RunTest, UnattendedRunWritesKeywordFilesShowsNothingAndClosesAtTheLimit) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    const Text hangup = pathToGbk(dir / "kw");
    ASSERT_TRUE(applyCommandLine({"kw"}, *controls, dir.path()));
    EXPECT_EQ(controls->text(ctl::kHangupDir), hangup);
    controls->setText(ctl::kLimit, "2");
    auto run = runToEnd(sources({{0, {{"抖音", {"抖音A/B", "快手", "抖音2", "抖音3"}}}}}), true);

    EXPECT_TRUE(controls->closeRequested());
    EXPECT_TRUE(run->results().empty());
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(u8(controls->text(ctl::kCountLabel)), "采集结果预览");
    EXPECT_EQ(notices(), (Strings{"挂机词语 抖音A/B 不能用作文件名，未保存到：" + u8(hangup),
                                  "挂机词语 抖音2 已保存到：" + u8(hangup)}));
    Strings files;
    for (const auto& entry : fs::directory_iterator(dir / "kw"))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, (Strings{"抖音2.zr"}));
    EXPECT_EQ(run->end(), RunEnd::LimitReached);
}

// The companion programs read the keyword from the file name: it is the keyword as it stands, or
// no file at all when the keyword cannot be a name here.
TEST_F(RunTest, HangupFilesAreNamedByTheKeywordAsItStands) {
    const std::string longest = "抖音" + std::string(246, 'x'); // with ".zr": 255 bytes, the limit
    const struct {
        std::string keyword;
        std::string file; // empty: skipped
    } cases[] = {
        {"抖音100%棉", "抖音100%棉.zr"}, {"抖音%2F", "抖音%2F.zr"}, {"抖音ABC", "抖音ABC.zr"},
        {"抖音 a.b", "抖音 a.b.zr"},     {"抖音/x", ""},            {longest, longest + ".zr"},
        {longest + "x", ""},
    };
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setChecked(ctl::kHangup, true);
    controls->setText(ctl::kHangupDir, pathToGbk(dir / "kw"));
    std::vector<std::string> phrases;
    for (const auto& c : cases)
        phrases.push_back(c.keyword);
    auto run = runToEnd(sources({{0, {{"抖音", phrases}}}}));
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir / "kw"))
        files.insert(entry.path().filename().string());
    std::set<std::string> expected;
    for (const auto& c : cases)
        if (!c.file.empty()) expected.insert(c.file);
    EXPECT_EQ(files, expected);
    const Strings shown = notices();
    for (const auto& c : cases) {
        const std::string notice = "挂机词语 " + c.keyword +
                                   (c.file.empty() ? " 不能用作文件名，未保存到：" : " 已保存到：") +
                                   u8(pathToGbk(dir / "kw"));
        EXPECT_NE(std::find(shown.begin(), shown.end(), notice), shown.end()) << notice;
    }
    EXPECT_EQ(run->results().size(), std::size(cases)); // skipped for the directory, still collected
}

TEST(HangupFileName, OnlyNamesThatCannotBeFilesAreRefused) {
    EXPECT_EQ(hangupFileName(utf8_to_gbk("100%棉")), std::optional<std::string>("100%棉.zr"));
    EXPECT_EQ(hangupFileName("AbC"), std::optional<std::string>("AbC.zr"));
    for (const char* bad : {".", "..", "a/b", "/"})
        EXPECT_EQ(hangupFileName(bad), std::nullopt) << bad;
    EXPECT_EQ(hangupFileName(std::string("a\0b", 3)), std::nullopt);
    EXPECT_EQ(hangupFileName("..."), std::optional<std::string>("....zr"));
}

TEST_F(RunTest, UnattendedRunClosesWhenTheQueueRunsDry) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    auto run = runToEnd(sources({{0, {{"抖音", {"抖音1"}}}}}), true);
    EXPECT_TRUE(controls->closeRequested());
    EXPECT_EQ(run->end(), RunEnd::QueueDry);
    // Auto-save still runs and writes the (empty) result list.
    EXPECT_EQ(fs::file_size(dir / "Zelkor长尾词_抖音.txt"), 0u);
}

TEST_F(RunTest, AttendedHangupOutputNeedsADirectoryAndTheMainWord) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setChecked(ctl::kHangup, true);
    controls->setText(ctl::kHangupDir, "");
    auto first = runToEnd(sources({{0, {{"抖音", {"抖音1"}}}}}));
    EXPECT_EQ(notices().at(1), "当前待索引任务1");

    emptySeenStore(dir.path(), *controls);
    controls->setText(ctl::kHangupDir, pathToGbk(dir / "out" / "kw"));
    auto second = runToEnd(sources({{0, {{"抖音", {"抖音1", "快手"}}}}}));
    EXPECT_TRUE(fs::exists(dir / "out" / "kw" / "抖音1.zr"));
    EXPECT_FALSE(fs::exists(dir / "out" / "kw" / "快手.zr"));
    EXPECT_EQ(second->results().size(), 1u);
}

// A source that offers one phrase, lets the test stop the run, then offers another.
class PausingSource : public SourceAdapter {
  public:
    std::promise<void> reached;
    std::promise<void> resume;
    bool secondAccepted = true;
    int listIndex() const override { return 0; }
    void run(const Text& keyword, SourceHost& host) override {
        if (!host.isSourceTicked(0) || keyword != gbk("抖音")) return;
        host.offerCandidate(gbk("抖音1"), gbk("百度相关"), 0);
        reached.set_value();
        resume.get_future().wait();
        secondAccepted = host.offerCandidate(gbk("抖音2"), gbk("百度相关"), 0);
        host.offerCandidate(gbk("QQ抖音"), gbk("百度相关"), 0); // would give a forbidden-word notice
    }
};

TEST_F(RunTest, StopInTheMiddleOfASourceEndsEverythingAtOnce) {
    controls->setText(ctl::kSeeds, gbk("抖音\r\n快手"));
    auto pausing = std::make_unique<PausingSource>();
    PausingSource& source = *pausing;
    SourceSet set;
    set.push_back(std::move(pausing));
    set.push_back(
        std::make_unique<ScriptedSource>(1, "百度下拉", 0, ScriptedSource::Script{{"抖音", {"抖音x"}}}, log));
    auto run = makeRun(std::move(set));
    run->start();
    source.reached.get_future().wait();
    const auto outputBefore = lines();
    const auto noticesBefore = notices();
    run->stop();
    EXPECT_FALSE(run->workerDone()); // stop() returned while the worker still sits in the source
    source.resume.set_value();
    ASSERT_TRUE(run->waitUntilDone(std::chrono::seconds(10)));

    EXPECT_FALSE(source.secondAccepted);
    EXPECT_EQ(lines(), outputBefore);
    EXPECT_EQ(notices(), noticesBefore);
    EXPECT_EQ(run->acceptedCount(), 1);
    EXPECT_EQ(run->queueSize(), 1u);
    EXPECT_EQ(run->results().size(), 1u);
    EXPECT_TRUE(log->only('q').empty()); // no later source asked
    EXPECT_FALSE(SeenStore(dir / "cwls").contains(gbk("抖音2")));
    EXPECT_FALSE(fs::exists(dir / "Zelkor长尾词_抖音快手.txt"));
    EXPECT_EQ(run->end(), RunEnd::Stopped);
    EXPECT_TRUE(ended.empty());
}

TEST_F(RunTest, StopEndsALongDelayAtOnce) {
    controls->setText(ctl::kSeeds, "a");
    controls->setText(ctl::kDelay, "3600");
    RunOptions options;
    options.home = dir.path(); // the real wait
    MiningRun run(controls, {}, options);
    run.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(run.workerDone());
    run.stop();
    EXPECT_TRUE(run.waitUntilDone(std::chrono::seconds(30)));
    EXPECT_EQ(run.end(), RunEnd::Stopped);
    EXPECT_TRUE(notices().empty());
}

TEST_F(RunTest, ControllerFollowsTheStateTable) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    SeenStore(dir / "cwls").mark(gbk("抖音1")); // from an earlier run: forgotten at Start
    MiningController controller(controls, dir.path(), [this] {
        return sources({{0, {{"抖音", {"抖音1"}}}}});
    });
    controller.setWait(test::recordingWait(log));
    std::promise<RunEnd> ended;
    controller.setOnEnded([&](RunEnd how) { ended.set_value(how); });
    EXPECT_EQ(controller.state(), RunState::Idle);

    controller.clickStart();
    EXPECT_EQ(u8(controls->text(ctl::kStartButton)), "停止");
    EXPECT_EQ(ended.get_future().get(), RunEnd::QueueDry);
    ASSERT_TRUE(controller.currentRun()->waitUntilDone(std::chrono::seconds(10)));
    EXPECT_EQ(controller.state(), RunState::Finished);
    EXPECT_EQ(u8(controls->text(ctl::kStartButton)), "停止"); // a run that ends by itself keeps it
    EXPECT_EQ(controller.currentRun()->results().size(), 1u);

    controller.clickStart(); // Stop, not Start
    EXPECT_EQ(controller.state(), RunState::Idle);
    EXPECT_EQ(u8(controls->text(ctl::kStartButton)), "开始");
    ASSERT_TRUE(controller.waitForEmptying(std::chrono::seconds(10)));
    EXPECT_FALSE(fs::exists(dir / "cwls"));

    // Export after Stop writes the stopped run's results and names the file for the face.
    const auto file = controller.exportResults();
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, dir / "Zelkor长尾词_抖音.txt");
    EXPECT_EQ(test::readFile(*file), gbk("抖音1\r\n"));

    // The controller's own state decides, whatever the caption says.
    controller.setOnEnded({});
    controls->setText(ctl::kStartButton, "other");
    controller.clickStart();
    EXPECT_NE(controller.state(), RunState::Idle);
    controller.clickStart();
    EXPECT_EQ(controller.state(), RunState::Idle);
    ASSERT_TRUE(controller.waitForEmptying(std::chrono::seconds(10)));
    const Strings n = notices();
    EXPECT_EQ(std::count(n.begin(), n.end(), "开始清理临时数据，建议清理完后再使用本软件"), 4);
    EXPECT_EQ(std::count(n.begin(), n.end(), "临时数据清理完毕"), 4);
}

TEST_F(RunTest, ExportWithoutAnyRunWritesAnEmptyFile) {
    MiningController controller(controls, dir.path(), {});
    controls->setChecked(ctl::kAutoSave, false);
    const auto file = controller.exportResults();
    ASSERT_TRUE(file);
    EXPECT_EQ(fs::file_size(*file), 0u);
    controls->setText(ctl::kSaveDir, pathToGbk(dir / "missing"));
    EXPECT_FALSE(controller.exportResults());
}

// Controls whose save-directory box blocks the reader while the test holds it: a save that sits
// in the middle of its file work.
class SlowSaveControls final : public ValueControls {
  public:
    mutable std::atomic<bool> holdSaves{false};
    std::promise<void> saving;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Text text(std::string_view control) const override {
        if (control == ctl::kSaveDir && holdSaves.exchange(false)) {
            const_cast<SlowSaveControls*>(this)->saving.set_value();
            released.wait();
        }
        return ValueControls::text(control);
    }
};

TEST_F(RunTest, StopReturnsWhileTheWorkerIsSavingAndThatSaveIsNotShown) {
    auto slow = std::make_shared<SlowSaveControls>();
    applyWindowDefaults(*slow, dir.path());
    slow->setItemChecked(ctl::kSourceList, 0, true);
    slow->setText(ctl::kSeeds, gbk("抖音"));
    slow->setText(ctl::kDelay, "0");
    RunOptions options;
    options.home = dir.path();
    options.wait = test::recordingWait(log);
    std::atomic<int> queried{0};
    SourceSet set;
    set.push_back(std::make_unique<ScriptedSource>(
        0, "百度相关", 0, ScriptedSource::Script{{"抖音", {"抖音1"}}, {"抖音1", {"抖音2"}}}, log,
        [&](const std::string& keyword, SourceHost&) {
            if (keyword == "抖音1") slow->holdSaves = true; // the save after this keyword blocks
            ++queried;
        }));
    MiningRun run(slow, std::move(set), options);
    run.start();
    slow->saving.get_future().wait();
    const auto before = std::chrono::steady_clock::now();
    run.stop(); // the old gate was held for the whole save: this would wait for release
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    const auto noticesBefore = slow->notices();
    slow->release.set_value();
    ASSERT_TRUE(run.waitUntilDone(std::chrono::seconds(10)));
    EXPECT_EQ(slow->notices(), noticesBefore); // no "已帮您自动保存数据" after Stop
    // The save after the seed was made; the one that lost the race to Stop was not.
    EXPECT_EQ(test::readFile(dir / "Zelkor长尾词_抖音.txt"), gbk("抖音1\r\n"));
}

TEST_F(RunTest, OnEndedNeverComesAfterStopReturned) {
    // Runs that end by themselves almost at once, stopped at varying moments around their end.
    controls->setChecked(ctl::kAutoSave, false); // 200 synced saves would only slow the rounds
    for (int round = 0; round < 200; ++round) {
        controls->setText(ctl::kSeeds, gbk("抖音"));
        controls->setText(ctl::kDelay, "0");
        std::atomic<bool> stopReturned{false};
        std::atomic<bool> lateCallback{false};
        RunOptions options;
        options.home = dir.path();
        options.wait = [](std::chrono::milliseconds, std::stop_token stop) { return !stop.stop_requested(); };
        options.onEnded = [&](RunEnd) {
            if (stopReturned) lateCallback = true;
        };
        MiningRun run(controls, {}, options);
        run.start();
        for (int spin = 0; spin < round * 10; ++spin)
            std::this_thread::yield();
        run.stop();
        stopReturned = true;
        ASSERT_TRUE(run.waitUntilDone(std::chrono::seconds(10)));
        ASSERT_FALSE(lateCallback) << round;
    }
}

// A source that keeps offering new phrases until the run is stopped.
class EndlessSource : public SourceAdapter {
  public:
    std::atomic<int> offered{0};
    std::shared_ptr<std::atomic<bool>> returned = std::make_shared<std::atomic<bool>>(false);
    int listIndex() const override { return 0; }
    void run(const Text&, SourceHost& host) override {
        while (!host.stopToken().stop_requested())
            host.offerCandidate(gbk("词") + std::to_string(offered++), gbk("百度相关"), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a request still aborting
        *returned = true;
    }
};

TEST_F(RunTest, StopEndsTheWorkerBeforeEmptyingSoNoMarkerSurvives) {
    for (int round = 0; round < 20; ++round) {
        controls->setText(ctl::kSeeds, gbk("词"));
        controls->setText(ctl::kLimit, "0");
        EndlessSource* source = nullptr;
        MiningController controller(controls, dir.path(), [&] {
            auto endless = std::make_unique<EndlessSource>();
            source = endless.get();
            SourceSet set;
            set.push_back(std::move(endless));
            return set;
        });
        controller.setWait([](std::chrono::milliseconds, std::stop_token stop) { return !stop.stop_requested(); });
        controller.start();
        while (source->offered < 50)
            std::this_thread::yield();
        controller.stop();
        ASSERT_TRUE(controller.waitForEmptying(std::chrono::seconds(10)));
        EXPECT_FALSE(fs::exists(dir / "cwls")) << round; // no marker written after the emptying began
    }
}

TEST_F(RunTest, TheControllerOwnsItsWorkersAndEmptiers) {
    controls->setText(ctl::kSeeds, gbk("词"));
    controls->setText(ctl::kLimit, "0");
    std::vector<EndlessSource*> sources;
    std::vector<std::shared_ptr<std::atomic<bool>>> returned;
    {
        MiningController controller(controls, dir.path(), [&] {
            auto endless = std::make_unique<EndlessSource>();
            sources.push_back(endless.get());
            returned.push_back(endless->returned);
            SourceSet set;
            set.push_back(std::move(endless));
            return set;
        });
        controller.setWait([](std::chrono::milliseconds, std::stop_token stop) { return !stop.stop_requested(); });
        for (int i = 0; i < 3; ++i) { // Start, Stop, Start, ...: the stopped runs are not waited for
            controller.start();
            while (sources.back()->offered < 10)
                std::this_thread::yield();
            controller.stop();
        }
        controller.start();
        while (sources.back()->offered < 10)
            std::this_thread::yield();
    } // still running: stopped and joined here
    for (const auto& flag : returned)
        EXPECT_TRUE(*flag);
    // 4 Starts and 3 Stops, each emptying the store; all of them finished.
    const Strings n = notices();
    EXPECT_EQ(std::count(n.begin(), n.end(), "临时数据清理完毕"), 7);
}

} // namespace
TEST_F(RunTest, StartIsRefusedWhileAnotherRunHoldsTheHomeOrAHangupDirIsUnusable) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    MiningController controller(controls, dir.path(), [] { return SourceSet{}; });
    controller.setWait(test::recordingWait(log));
    struct Case {
        const char* name;
        std::function<void()> arrange;
        StartRefusal refusal;
    };
    std::optional<FileLock> other;
    test::writeFile(dir / "plain", "");
    const Case cases[] = {
        {"home in use",
         [&] {
             int error = 0;
             other = FileLock::tryAcquire(homeLockFile(dir.path()), &error);
             ASSERT_TRUE(other);
         },
         StartRefusal::HomeBusy},
        {"hang-up directory is a file",
         [&] {
             other.reset();
             controls->setChecked(ctl::kHangup, true);
             controls->setText(ctl::kHangupDir, pathToGbk(dir / "plain"));
         },
         StartRefusal::HangupUnusable},
        {"hang-up directory under a file",
         [&] { controls->setText(ctl::kHangupDir, pathToGbk(dir / "plain" / "kw")); },
         StartRefusal::HangupUnusable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        EXPECT_EQ(controller.clickStart(), c.refusal);
        EXPECT_EQ(u8(controls->text(ctl::kStartButton)), "开始");
        EXPECT_EQ(controller.currentRun(), nullptr);
        EXPECT_TRUE(notices().empty()); // not even the store emptying
    }
    MiningController nowhere(controls, dir / "missing", [] { return SourceSet{}; });
    EXPECT_EQ(nowhere.start(), StartRefusal::HomeUnwritable);

    // A usable directory: the run starts, holds the home while it runs and lets go at its end.
    controls->setText(ctl::kHangupDir, pathToGbk(dir / "out" / "kw"));
    EXPECT_EQ(controller.clickStart(), std::nullopt);
    ASSERT_TRUE(controller.currentRun()->waitUntilDone(std::chrono::seconds(10)));
    int error = 0;
    EXPECT_TRUE(FileLock::tryAcquire(homeLockFile(dir.path()), &error));
    EXPECT_TRUE(fs::is_directory(dir / "out" / "kw"));
}

TEST_F(RunTest, TwoRunsOnOneHomeNeverOverlap) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setText(ctl::kDelay, "3600");
    MiningController first(controls, dir.path(), [] { return SourceSet{}; });
    MiningController second(controls, dir.path(), [] { return SourceSet{}; });
    ASSERT_EQ(first.start(), std::nullopt);
    EXPECT_EQ(second.start(), StartRefusal::HomeBusy);
    first.stop(); // Stop lets go at once
    EXPECT_EQ(second.start(), std::nullopt);
    second.stop();
}

TEST_F(RunTest, OnlyAHangupFileThatWasWrittenIsAnnounced) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setChecked(ctl::kHangup, true);
    controls->setText(ctl::kHangupDir, pathToGbk(dir / "kw"));
    test::writeFile(dir / "plain", "");
    RunOptions options;
    options.home = dir.path();
    // The directory becomes unusable after Start: from the first pause on, files cannot be made.
    options.wait = [this](std::chrono::milliseconds, std::stop_token) {
        controls->setText(ctl::kHangupDir, pathToGbk(dir / "plain" / "kw"));
        return true;
    };
    MiningRun run(controls, sources({{0, {{"抖音", {"抖音1"}}}}, {5, {{"抖音", {"抖音2"}}}}}), std::move(options));
    run.start();
    ASSERT_TRUE(run.waitUntilDone(std::chrono::seconds(10)));
    const Strings n = notices();
    EXPECT_EQ(std::count(n.begin(), n.end(), "挂机词语 抖音1 已保存到：" + (dir / "kw").string()), 1);
    for (const auto& notice : n)
        EXPECT_EQ(notice.find("抖音2 已保存到"), std::string::npos) << notice;
    EXPECT_TRUE(fs::exists(dir / "kw" / "抖音1.zr"));
    EXPECT_EQ(run.results().size(), 2u); // the phrase itself is still taken
}

TEST_F(RunTest, AMarkThatCannotBeWrittenStopsTheRun) {
    controls->setText(ctl::kSeeds, gbk("抖音"));
    controls->setText(ctl::kLimit, "0"); // no limit: before, such a run never ended
    RunOptions options;
    options.home = dir.path();
    // From the first pause on the store cannot take files: its place is taken by a plain file.
    options.wait = [this](std::chrono::milliseconds, std::stop_token) {
        std::error_code error;
        if (!fs::is_regular_file(dir / "cwls")) {
            fs::remove_all(dir / "cwls", error);
            test::writeFile(dir / "cwls", "");
        }
        return true;
    };
    options.onEnded = [this](RunEnd how) { ended.push_back(how); };
    // Every keyword names itself again: without marks it would be taken forever.
    MiningRun run(controls, sources({{0, {{"抖音", {"抖音1"}}}}, {5, {{"抖音", {"抖音2", "抖音3"}}}}}), std::move(options));
    run.start();
    ASSERT_TRUE(run.waitUntilDone(std::chrono::seconds(10)));
    EXPECT_EQ(run.end(), RunEnd::StoreFailed);
    EXPECT_EQ(ended, std::vector<RunEnd>{RunEnd::StoreFailed});
    const Strings n = notices();
    const std::string failed = "已采集记录无法写入：" + (dir / "cwls").string() + " (Not a directory)，采集已停止";
    EXPECT_EQ(std::count(n.begin(), n.end(), failed), 1) << ::testing::PrintToString(n);
    // What was taken before is kept and saved; nothing after the failure is.
    EXPECT_EQ(run.results().size(), 1u);
    EXPECT_EQ(test::readFile(dir / "Zelkor长尾词_抖音.txt"), gbk("抖音1\r\n"));
}

} // namespace zelkor
