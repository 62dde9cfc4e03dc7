#include "analysis/charts.h"
#include "analysis/demand_map.h"
#include "analysis/html_report.h"
#include "analysis/run_statistics.h"
#include "analysis/svg.h"
#include "engine/core/text_rules.h"
#include "engine/output/export_target.h"
#include "engine/store/sqlite_run_store.h"
#include "engine/store/store_factory.h"
#include "support/temp_dir.h"

#include <QByteArray>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// ---- a small stored run with known answers --------------------------------------------------

struct Row {
    const char* keyword;
    const char* source;
    const char* seed;
    const char* parent;
    int depth;
    const char* time;
};

const Row kRun[] = {
    {"抖音直播", "百度相关", "抖音", "抖音", 1, "2026-12-10T13:45:10+08:00"},
    {"抖音下载", "百度下拉", "抖音", "抖音", 1, "2026-12-10T13:45:20+08:00"},
    {"快手极速版", "百度相关", "快手", "快手", 1, "2026-12-10T13:45:50+08:00"},
    {"抖音直播间", "百度相关", "抖音", "抖音直播", 2, "2026-12-10T13:46:05+08:00"},
    {"抖音直播伴侣", "360下拉", "抖音", "抖音直播", 2, "2026-12-10T13:47:30+08:00"},
    {"抖音直播间怎么开", "百度下拉", "抖音", "抖音直播间", 3, "2026-12-10T13:47:59+08:00"},
    // A parent nobody showed, and a time nobody can read: hangs from its seed, counts in no minute.
    {"抖音小店", "百度相关", "抖音", "不存在的词", 2, "not a time"},
    // The seed offered itself; its own answers are below it, the seed's beside it.
    {"快手", "百度下拉", "快手", "快手", 1, "2026-12-10T13:48:00+08:00"},
    {"快手小店", "百度相关", "快手", "快手", 2, "2026-12-10T05:48:30Z"},
};

std::vector<ResultRecord> storedRun(const fs::path& file) {
    {
        std::string error;
        auto store = SqliteRunStore::open(file, &error);
        EXPECT_TRUE(store) << error;
        EXPECT_TRUE(store->beginRun({{"编辑框_关键词", gbk("抖音\r\n快手\r\n空种子")}, {"编辑框_延时", "0"}}));
        for (const Row& row : kRun)
            store->results().append({gbk(row.keyword), gbk(row.source), gbk(row.seed), gbk(row.parent), row.depth,
                                     row.time});
        EXPECT_TRUE(store->commitKeyword(3, static_cast<int>(std::size(kRun)))) << store->error();
        store->runFinished();
    }
    StoreSpec spec;
    spec.kind = StoreSpec::Kind::Sqlite;
    spec.path = file;
    auto history = openRunHistory(spec);
    EXPECT_TRUE(history) << history.error().message;
    auto results = (*history)->runResults("");
    EXPECT_TRUE(results) << results.error().message;
    auto options = (*history)->runOptions("1");
    EXPECT_TRUE(options && options->size() == 2 && (*options)[1].second == "0");
    return *results;
}

const std::vector<std::string> kSeeds = {"抖音", "快手", "空种子"};

TEST(RunStatistics, AnswersOfAStoredRun) {
    TempDir dir;
    const RunStatistics stats = computeStatistics(storedRun(dir / "runs.sqlite"), nullptr, kSeeds);
    EXPECT_EQ(stats.results, 9u);

    struct Service {
        std::string label;
        std::uint64_t results;
    };
    const std::vector<Service> services = {{"百度相关", 5}, {"百度下拉", 3}, {"360下拉", 1}};
    ASSERT_EQ(stats.services.size(), services.size());
    for (std::size_t i = 0; i < services.size(); ++i) {
        SCOPED_TRACE(services[i].label);
        EXPECT_EQ(stats.services[i].label, services[i].label);
        EXPECT_EQ(stats.services[i].results, services[i].results);
        EXPECT_DOUBLE_EQ(stats.services[i].share, services[i].results / 9.0);
        EXPECT_FALSE(stats.services[i].counted);
    }

    const std::vector<std::pair<int, std::uint64_t>> depths = {{1, 4}, {2, 4}, {3, 1}};
    ASSERT_EQ(stats.depths.size(), depths.size());
    for (std::size_t i = 0; i < depths.size(); ++i) {
        EXPECT_EQ(stats.depths[i].depth, depths[i].first);
        EXPECT_EQ(stats.depths[i].count, depths[i].second);
    }

    EXPECT_EQ(stats.perMinute, (std::vector<std::uint64_t>{3, 1, 2, 2}));
    EXPECT_EQ(stats.bucketMinutes, 1);
    EXPECT_EQ(stats.firstTime, "2026-12-10T13:45:10+08:00");
    EXPECT_EQ(stats.lastTime, "2026-12-10T05:48:30Z");

    struct Seed {
        std::string seed;
        std::uint64_t results;
        int deepest;
        std::uint64_t tree; // the seed's tree, the seed counted
    };
    const std::vector<Seed> seeds = {{"抖音", 6, 3, 7}, {"快手", 3, 2, 4}, {"空种子", 0, 0, 1}};
    ASSERT_EQ(stats.seeds.size(), seeds.size());
    ASSERT_EQ(stats.tree.roots.size(), seeds.size());
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        SCOPED_TRACE(seeds[i].seed);
        EXPECT_EQ(stats.seeds[i].seed, seeds[i].seed);
        EXPECT_EQ(stats.seeds[i].results, seeds[i].results);
        EXPECT_EQ(stats.seeds[i].deepest, seeds[i].deepest);
        EXPECT_EQ(stats.tree.nodes[stats.tree.roots[i]].subtree, seeds[i].tree);
    }

    // Each phrase's parent in the tree, and the size of what hangs below it.
    struct Link {
        std::string phrase, parent;
        std::uint64_t subtree;
    };
    const std::vector<Link> links = {
        {"抖音直播", "抖音", 4},       {"抖音下载", "抖音", 1},          {"快手极速版", "快手", 1},
        {"抖音直播间", "抖音直播", 2}, {"抖音直播伴侣", "抖音直播", 1}, {"抖音直播间怎么开", "抖音直播间", 1},
        {"抖音小店", "抖音", 1},       {"快手", "快手", 2},              {"快手小店", "快手", 1},
    };
    for (const Link& link : links) {
        SCOPED_TRACE(link.phrase);
        const auto node = std::find_if(stats.tree.nodes.begin(), stats.tree.nodes.end(),
                                       [&](const DemandNode& n) { return n.label == link.phrase && n.parent >= 0; });
        ASSERT_NE(node, stats.tree.nodes.end());
        EXPECT_EQ(stats.tree.nodes[node->parent].label, link.parent);
        EXPECT_EQ(node->subtree, link.subtree);
    }
    // 快手小店 hangs from the result 快手, 快手极速版 from the seed.
    const auto kuaishou = [&](const char* phrase) {
        return std::find_if(stats.tree.nodes.begin(), stats.tree.nodes.end(),
                            [&](const DemandNode& n) { return n.label == phrase; })->parent;
    };
    EXPECT_EQ(stats.tree.nodes[kuaishou("快手小店")].parent, stats.tree.roots[1]);
    EXPECT_EQ(kuaishou("快手极速版"), stats.tree.roots[1]);
}

TEST(RunStatistics, CountsOfAWatchedRunJoinTheResults) {
    TempDir dir;
    HealthReport health;
    health.services.push_back({0, gbk("百度相关"), 10, 8, 1, 1, 0, 0, 20, 5, 0});
    health.services.push_back({7, gbk("神马相关"), 3, 0, 0, 0, 3, 0, 0, 0, 0});
    const RunStatistics stats = computeStatistics(storedRun(dir / "runs.sqlite"), &health, kSeeds);
    ASSERT_EQ(stats.services.size(), 4u);
    EXPECT_EQ(stats.services[0].label, "百度相关");
    EXPECT_TRUE(stats.services[0].counted);
    EXPECT_EQ(stats.services[0].source, 0);
    EXPECT_EQ(stats.services[0].requests, 10u);
    EXPECT_EQ(stats.services[0].failed, 1u);
    EXPECT_EQ(stats.services[0].phrases, 20u);
    EXPECT_EQ(stats.services[0].results, 5u);
    // Asked and blocked, nothing kept: still listed, last.
    EXPECT_EQ(stats.services[3].label, "神马相关");
    EXPECT_EQ(stats.services[3].blocked, 3u);
    EXPECT_EQ(stats.services[3].results, 0u);
}

TEST(RunStatistics, ReadsTimesWithTheirOffsets) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> seconds;
    };
    const Case cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"1970-01-01T08:00:00+08:00", 0},
        {"1970-01-01T00:00:00-0130", 5400},
        {"2026-12-10T13:45:00+08:00", 1796881500},
        {"2026-12-10 05:45:00.250", 1796881500},
        {"2026-13-10T13:45:00+08:00", std::nullopt},
        {"2026-12-10T13:45", std::nullopt},
        {"2026-12-10T13:45:00+8", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseIsoTime(c.text), c.seconds) << c.text;
}

TEST(RunStatistics, FarApartTimesShareWiderSpans) {
    std::vector<ResultRecord> results;
    results.push_back({"a", "s", "seed", "seed", 1, "2026-01-01T00:00:00Z"});
    results.push_back({"b", "s", "seed", "seed", 1, "2027-01-01T00:00:00Z"});
    const RunStatistics stats = computeStatistics(results);
    EXPECT_LE(stats.perMinute.size(), RunStatistics::kMaxBuckets);
    EXPECT_GT(stats.bucketMinutes, 1);
    EXPECT_EQ(stats.perMinute.front() + stats.perMinute.back(), 2u);
}

// ---- SVG ---------------------------------------------------------------------------------------

// What a reader of the SVG finds: whether it is well-formed, the root's size, and elements by class.
struct SvgMarks {
    bool valid = false;
    QString error;
    double width = 0, height = 0;
    std::map<std::string, int> classes;
    std::vector<std::string> moreTexts; // the text of each "+N" mark
};

SvgMarks readSvg(const std::string& bytes) {
    SvgMarks marks;
    QXmlStreamReader xml(QByteArray::fromStdString(bytes));
    bool first = true;
    std::vector<std::string> open;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto cls = xml.attributes().value(QStringLiteral("class")).toString().toStdString();
            if (first) {
                marks.width = xml.attributes().value(QStringLiteral("width")).toDouble();
                marks.height = xml.attributes().value(QStringLiteral("height")).toDouble();
                first = false;
            }
            if (!cls.empty()) ++marks.classes[cls];
            open.push_back(cls);
            if (xml.name() == QStringLiteral("text") && std::find(open.begin(), open.end(), "more") != open.end())
                marks.moreTexts.push_back(xml.readElementText().toStdString()), open.pop_back();
        } else if (xml.isEndElement()) {
            open.pop_back();
        }
    }
    marks.valid = !xml.hasError();
    marks.error = xml.errorString();
    return marks;
}

int classCount(const SvgMarks& marks, const std::string& cls) {
    const auto found = marks.classes.find(cls);
    return found == marks.classes.end() ? 0 : found->second;
}

bool qtRenders(const std::string& bytes) {
    QSvgRenderer renderer(QByteArray::fromStdString(bytes));
    return renderer.isValid() && !renderer.defaultSize().isEmpty();
}

TEST(Charts, AreWellFormedSvgWithTheirMarks) {
    TempDir dir;
    HealthReport health;
    health.services.push_back({7, gbk("神马相关"), 3, 0, 0, 0, 3, 0, 0, 0, 0});
    const RunStatistics stats = computeStatistics(storedRun(dir / "runs.sqlite"), &health, kSeeds);
    struct Case {
        const char* name;
        std::string svg;
        const char* mark;
        int count;
    };
    const Case cases[] = {
        {"services", serviceBarChart(stats), "bar", 4},
        {"depths", depthHistogram(stats), "bar", 3},
        {"growth", growthLine(stats), "point", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SvgMarks marks = readSvg(c.svg);
        ASSERT_TRUE(marks.valid) << marks.error.toStdString();
        EXPECT_GT(marks.width, 0);
        EXPECT_GT(marks.height, 0);
        EXPECT_EQ(classCount(marks, c.mark), c.count);
        EXPECT_EQ(c.svg.find("<style"), std::string::npos);
        EXPECT_TRUE(qtRenders(c.svg));
    }
}

TEST(Charts, ManyServicesShareTheLastBar) {
    std::vector<ResultRecord> results;
    for (int s = 0; s < 45; ++s) results.push_back({"k" + std::to_string(s), "s" + std::to_string(s), "x", "x", 1, ""});
    const RunStatistics stats = computeStatistics(results);
    const std::string chart = serviceBarChart(stats);
    EXPECT_EQ(classCount(readSvg(chart), "bar"), kMaxServiceBars);
    EXPECT_NE(chart.find("其他"), std::string::npos);
    EXPECT_NE(chart.find(">16（35.6%）<"), std::string::npos); // the 16 services past the 29th
}

// ---- the demand map ----------------------------------------------------------------------------

// A seed and `phrases` results below it: each new phrase hangs from a random earlier one, the seed
// included, favouring the seed `bias` times over.
std::vector<ResultRecord> randomRun(int phrases, int bias, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<ResultRecord> results;
    std::vector<int> depth;
    for (int i = 0; i < phrases; ++i) {
        std::uniform_int_distribution<int> pick(-bias - 1, i - 1);
        const int parent = std::max(-1, pick(random));
        const int d = parent < 0 ? 1 : depth[parent] + 1;
        depth.push_back(d);
        results.push_back({gbk("词" + std::to_string(i) + (i % 3 ? "的长尾关键词很长很长" : "")), "s", gbk("种子"),
                           parent < 0 ? gbk("种子") : results[parent].keyword, d, ""});
    }
    return results;
}

// A label's box as a centre, the unit vector along it, and its half sizes.
struct Box {
    double cx, cy, ux, uy, half, halfAcross;
};

Box boxOf(const DemandMapLabel& label, double centre) {
    if (label.kind == DemandMapLabel::Kind::Seed) return {centre, centre, 1, 0, label.width / 2, label.height / 2};
    const double ux = std::cos(label.angle), uy = std::sin(label.angle);
    const double middle = label.inner + label.width / 2;
    return {centre + ux * middle, centre + uy * middle, ux, uy, label.width / 2, label.height / 2};
}

// Separating axes of two rectangles: they overlap when no axis parts them.
bool overlap(const Box& a, const Box& b) {
    const double axes[4][2] = {{a.ux, a.uy}, {-a.uy, a.ux}, {b.ux, b.uy}, {-b.uy, b.ux}};
    const double dx = b.cx - a.cx, dy = b.cy - a.cy;
    for (const auto& axis : axes) {
        const auto reach = [&](const Box& box) {
            return box.half * std::fabs(box.ux * axis[0] + box.uy * axis[1]) +
                   box.halfAcross * std::fabs(-box.uy * axis[0] + box.ux * axis[1]);
        };
        if (std::fabs(dx * axis[0] + dy * axis[1]) >= reach(a) + reach(b)) return false;
    }
    return true;
}

TEST(DemandMap, StaysReadableWhateverTheTreesShape) {
    struct Case {
        const char* name;
        std::vector<ResultRecord> results;
        DemandMapLimits limits;
    };
    std::vector<Case> cases;
    cases.push_back({"nothing found", {}, {}});
    cases.push_back({"one phrase", randomRun(1, 0, 1), {}});
    cases.push_back({"a star of 5000", randomRun(5000, 1000000, 2), {}});
    cases.push_back({"a chain", [] {
                         std::vector<ResultRecord> chain;
                         for (int i = 0; i < 300; ++i)
                             chain.push_back({"c" + std::to_string(i), "s", gbk("种子"),
                                              i ? chain.back().keyword : gbk("种子"), i + 1, ""});
                         return chain;
                     }(), {}});
    cases.push_back({"bushy, 20000", randomRun(20000, 20, 3), {}});
    cases.push_back({"bushy, tight limits", randomRun(3000, 5, 4), {12, 3, 2}});
    cases.push_back({"bushy, loose limits", randomRun(3000, 5, 5), {120, 12, 4}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunStatistics stats = computeStatistics(c.results, nullptr, {"种子"});
        const DemandMapLayout layout = layoutDemandMap(stats.tree, stats.tree.roots[0], c.limits);
        ASSERT_FALSE(layout.labels.empty());
        EXPECT_EQ(layout.phrases, c.results.size());
        EXPECT_LE(layout.shown, c.limits.nodes);

        // Every phrase is drawn, or counted by exactly one "+N".
        std::uint64_t drawn = 0, summarised = 0;
        std::map<int, int> children;
        for (const DemandMapLabel& label : layout.labels) {
            if (label.kind == DemandMapLabel::Kind::Phrase) {
                ++drawn;
                EXPECT_LE(label.level, c.limits.levels);
                ++children[label.parent];
            }
            if (label.kind == DemandMapLabel::Kind::More) summarised += label.subtree;
        }
        EXPECT_EQ(drawn + summarised, c.results.size());
        for (const auto& [parent, count] : children) EXPECT_LE(count, c.limits.children);

        // No two labels overlap.
        const double centre = layout.size / 2;
        for (std::size_t i = 0; i < layout.labels.size(); ++i)
            for (std::size_t j = i + 1; j < layout.labels.size(); ++j)
                EXPECT_FALSE(overlap(boxOf(layout.labels[i], centre), boxOf(layout.labels[j], centre)))
                    << layout.labels[i].full << " / " << layout.labels[j].full;

        const std::string svg = demandMapSvg(layout, "map");
        const SvgMarks marks = readSvg(svg);
        ASSERT_TRUE(marks.valid) << marks.error.toStdString();
        EXPECT_EQ(marks.width, layout.size);
        EXPECT_EQ(classCount(marks, "node"), layout.shown);
        EXPECT_EQ(classCount(marks, "seed"), 1);
        std::uint64_t fromText = 0;
        for (const std::string& text : marks.moreTexts) {
            ASSERT_EQ(text.front(), '+');
            fromText += std::stoull(text.substr(1));
        }
        EXPECT_EQ(marks.moreTexts.size() / 2, static_cast<std::size_t>(classCount(marks, "more"))); // text and outline
        EXPECT_EQ(fromText / 2, summarised);
        EXPECT_TRUE(qtRenders(svg));
    }
}

TEST(DemandMap, ShowsEachNodesLargestChildren) {
    // Below the seed: a phrase with 9 below it, one with 5, then eight with nothing.
    std::vector<ResultRecord> results;
    const auto add = [&](const std::string& keyword, const std::string& parent, int depth) {
        results.push_back({keyword, "s", "seed", parent, depth, ""});
    };
    for (int i = 0; i < 8; ++i) add("leaf" + std::to_string(i), "seed", 1);
    add("five", "seed", 1);
    add("nine", "seed", 1);
    for (int i = 0; i < 5; ++i) add("five-" + std::to_string(i), "five", 2);
    for (int i = 0; i < 9; ++i) add("nine-" + std::to_string(i), "nine", 2);
    const RunStatistics stats = computeStatistics(results);
    const DemandMapLayout layout = layoutDemandMap(stats.tree, stats.tree.roots[0], {4, 3, 1});
    std::vector<std::string> first;
    std::uint64_t more = 0;
    for (const DemandMapLabel& label : layout.labels) {
        if (label.kind == DemandMapLabel::Kind::Phrase) first.push_back(label.full);
        if (label.kind == DemandMapLabel::Kind::More && label.parent == 0) more = label.subtree;
    }
    EXPECT_EQ(first, (std::vector<std::string>{"nine", "five", "leaf0"}));
    EXPECT_EQ(more, 7u); // leaf1 … leaf7
}

// ---- hostile text ------------------------------------------------------------------------------

TEST(HtmlReport, EscapesWhateverServicesAndStoresGive) {
    const std::string hostile[] = {
        "<script>alert(1)</script>", "\"><img src=x onerror=alert(2)>", "a&b'c", std::string("ctl\x01\x1b[31m", 9),
        "</textarea><svg onload=alert(3)>",
    };
    std::vector<ResultRecord> results;
    for (const std::string& text : hostile)
        results.push_back({gbk(text), gbk(text), gbk("<b>种子</b>"), gbk("<b>种子</b>"), 1, text});
    results.push_back({std::string("\xFF\xFE<", 3), "s", gbk("<b>种子</b>"), std::string("\x81", 1), 2, "x"});
    ReportFacts facts;
    facts.seeds = {"<b>种子</b>"};
    facts.options = {{"编辑框_包含规则", "<script>x</script>"}};
    facts.state = "<i>finished</i>";
    facts.store = "sqlite:/tmp/<x>.sqlite";
    const HtmlReport report = makeHtmlReport(facts, results);
    const std::string& html = report.html;

    // One script, ours; no tag a service named.
    std::size_t scripts = 0;
    for (std::size_t at = 0; (at = html.find("<script", at)) != std::string::npos; ++at) ++scripts;
    EXPECT_EQ(scripts, 1u);
    for (const char* tag : {"<img", "<b>", "<i>", "<svg onload", "</textarea", "<x>"})
        EXPECT_EQ(html.find(tag), std::string::npos) << tag;
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;种子&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(html.find('\x01'), std::string::npos);
    EXPECT_EQ(html.find('\x1b'), std::string::npos);

    // Every picture in it is still well-formed XML.
    std::size_t pictures = 0;
    for (std::size_t at = 0; (at = html.find("<svg ", at)) != std::string::npos; ++pictures) {
        const std::size_t end = html.find("</svg>", at) + 6;
        const SvgMarks marks = readSvg(html.substr(at, end - at));
        EXPECT_TRUE(marks.valid) << marks.error.toStdString();
        at = end;
    }
    EXPECT_EQ(pictures, 4u); // three charts and one map
    EXPECT_EQ(report.maps, 1);
}

TEST(HtmlReport, NamesOnlyItsOwnScriptInItsPolicy) {
    const HtmlReport report = makeHtmlReport({}, {});
    const std::string& html = report.html;
    EXPECT_NE(html.find("default-src 'none'"), std::string::npos);
    // Nothing to fetch: no source, no link, no address but the SVG namespace's name.
    for (const char* fetch : {" src=", "href=", "url(", "https://", "@import"})
        EXPECT_EQ(html.find(fetch), std::string::npos) << fetch;
    EXPECT_EQ(report.maps, 0);
}

TEST(HtmlReport, IsWrittenWholeAndNeverOverAStore) {
    TempDir dir;
    const fs::path store = dir / "runs.sqlite";
    storedRun(store);
    const std::string before = test::readFile(store);
    const Expected<Done> refused = writeReportFile(store, "<p>", sqliteFiles(store));
    EXPECT_FALSE(refused);
    EXPECT_EQ(test::readFile(store), before);
    EXPECT_FALSE(writeReportFile(dir.path(), "<p>"));
    ASSERT_TRUE(writeReportFile(dir / "report.html", "<p>whole</p>"));
    EXPECT_EQ(test::readFile(dir / "report.html"), "<p>whole</p>");
}

TEST(Svg, EscapesAndMeasuresText) {
    EXPECT_EQ(svg::escape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
    EXPECT_EQ(svg::escape(std::string("a\0b", 3)), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(svg::escape("\xC3("), "\xEF\xBF\xBD(");       // a lead byte without its follower
    EXPECT_EQ(svg::escape("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a surrogate
    EXPECT_EQ(svg::escape("手机\t"), "手机\t");
    EXPECT_EQ(svg::num(1.006), "1.01");
    EXPECT_EQ(svg::num(2.5), "2.5");
    EXPECT_EQ(svg::num(-0.001), "0");
    EXPECT_EQ(svg::num(120), "120");
    EXPECT_DOUBLE_EQ(svg::textWidth("手机ab", 10), 2 * 10 + 2 * 6.2);
    const std::string cut = svg::fitText("一二三四五六七八九十", 12, 60);
    EXPECT_LE(svg::textWidth(cut, 12), 60);
    EXPECT_EQ(cut, "一二三四\xE2\x80\xA6");
    EXPECT_EQ(svg::fitText("短", 12, 60), "短");
}

} // namespace
} // namespace zelkor
