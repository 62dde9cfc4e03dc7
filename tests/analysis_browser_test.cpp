// The report in a real browser: Debian's chromium, headless. A page of the test's own holds the
// report in a frame, measures its pictures, clicks its table's heads and types into its filter,
// then writes what it saw into its own DOM, which --dump-dom prints.

#include "analysis/html_report.h"
#include "engine/core/text_rules.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace zelkor {
namespace {

namespace fs = std::filesystem;

std::string chromium() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (fs::exists(candidate)) return candidate;
    return {};
}

constexpr const char* kHarness = R"html(<!DOCTYPE html>
<html><body><pre id="seen">not loaded</pre>
<iframe id="report" src="report.html" width="1300" height="900"></iframe>
<script>
document.getElementById('report').addEventListener('load', function () {
  var seen = [], d = this.contentDocument;
  function say(line) { seen.push(line); }
  function column(c) {
    return Array.prototype.filter.call(d.querySelectorAll('#results tbody tr'), function (r) { return !r.hidden; })
      .map(function (r) { return r.cells[c].textContent; }).join(',');
  }
  try {
    say('title=' + d.title);
    ['chart-services', 'chart-depths', 'chart-growth', 'map-1'].forEach(function (id) {
      var box = d.getElementById(id).getBoundingClientRect();
      say(id + '=' + Math.round(box.width) + 'x' + Math.round(box.height));
    });
    var heads = d.querySelectorAll('#results thead th');
    heads[0].click(); say('keyword-up=' + column(0));
    heads[0].click(); say('keyword-down=' + column(0));
    heads[4].click(); say('depth-up=' + column(0));
    say('scripts=' + d.scripts.length + ' images=' + d.images.length);
    var filter = d.getElementById('filter');
    filter.value = 'B';
    filter.dispatchEvent(new Event('input'));
    setTimeout(function () {
      say('filtered=' + column(0) + ' shown=' + d.getElementById('shown').textContent);
      document.getElementById('seen').textContent = seen.join('\n');
    }, 1000);
  } catch (e) {
    say('error=' + e);
    document.getElementById('seen').textContent = seen.join('\n');
  }
});
</script></body></html>
)html";

// The text of an element as --dump-dom serialises it.
std::string unescaped(std::string text) {
    for (const auto& [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += std::strlen(to))
            text.replace(at, std::strlen(from), to);
    return text;
}

// The lines the harness wrote, by their names.
std::map<std::string, std::string> seenLines(const std::string& dom) {
    std::map<std::string, std::string> lines;
    const std::size_t from = dom.find("<pre id=\"seen\">");
    const std::size_t to = dom.find("</pre>", from);
    if (from == std::string::npos || to == std::string::npos) return lines;
    std::istringstream in(unescaped(dom.substr(from + 15, to - from - 15)));
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) lines[line.substr(0, eq)] = line.substr(eq + 1);
        else lines[line] = "";
    }
    return lines;
}

TEST(ReportInBrowser, LoadsShowsItsChartsAndSortsAndFilters) {
    const std::string browser = chromium();
    if (browser.empty()) GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
    test::TempDir dir;
    // Depths 10, 2 and 1: sorted as numbers, not as text. A phrase that is a script stays text.
    std::vector<ResultRecord> results = {
        {"b2", gbk("百度相关"), gbk("种子"), gbk("种子"), 1, "2026-12-10T13:45:10+08:00"},
        {"a1", gbk("百度下拉"), gbk("种子"), "b2", 10, "2026-12-10T13:46:10+08:00"},
        {"c3", gbk("百度相关"), gbk("种子"), "b2", 2, "2026-12-10T13:47:10+08:00"},
        {"<script>document.title='pwned'</script>", gbk("360下拉"), gbk("种子"), gbk("种子"), 1,
         "2026-12-10T13:47:30+08:00"},
        {"<img src=x onerror=\"document.title='pwned'\">", gbk("360下拉"), gbk("种子"), gbk("种子"), 1,
         "2026-12-10T13:47:40+08:00"},
    };
    ReportFacts facts;
    facts.seeds = {"种子"};
    facts.state = "finished";
    const HtmlReport report = makeHtmlReport(facts, results);
    ASSERT_TRUE(writeReportFile(dir / "report.html", report.html));
    test::writeFile(dir / "harness.html", kHarness);

    test::ChildOptions options;
    options.timeout = std::chrono::seconds(120);
    options.environment = {"HOME=" + dir.path().string()};
    const test::ChildOutcome outcome = test::runChild(
        browser,
        {"--headless", "--no-sandbox", "--disable-gpu", "--allow-file-access-from-files", "--enable-logging=stderr",
         "--v=0", "--virtual-time-budget=5000", "--user-data-dir=" + (dir / "profile").string(), "--dump-dom",
         "file://" + (dir / "harness.html").string()},
        options);
    ASSERT_TRUE(outcome.started);
    ASSERT_EQ(outcome.status(), 0) << outcome.err;

    // Loads without errors: no script failed, none was refused.
    EXPECT_EQ(outcome.err.find("Uncaught"), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("Refused to"), std::string::npos) << outcome.err;

    auto seen = seenLines(outcome.out);
    ASSERT_FALSE(seen.empty()) << outcome.out;
    EXPECT_EQ(seen.count("error"), 0u) << seen["error"];
    EXPECT_EQ(seen["title"], "采集报告：种子");
    // The charts have the size they say; the map is square.
    EXPECT_EQ(seen["chart-services"], "640x124"); // three services
    EXPECT_EQ(seen["chart-depths"], "640x260");
    EXPECT_EQ(seen["chart-growth"], "640x260");
    const std::string map = seen["map-1"];
    ASSERT_NE(map.find('x'), std::string::npos);
    EXPECT_GT(std::stoi(map), 100);
    EXPECT_EQ(map.substr(0, map.find('x')), map.substr(map.find('x') + 1));

    const std::string script = "<script>document.title='pwned'</script>";
    const std::string image = "<img src=x onerror=\"document.title='pwned'\">";
    EXPECT_EQ(seen["keyword-up"], image + "," + script + ",a1,b2,c3");
    EXPECT_EQ(seen["keyword-down"], "c3,b2,a1," + script + "," + image);
    EXPECT_EQ(seen["depth-up"], "b2," + script + "," + image + ",c3,a1");
    EXPECT_EQ(seen["scripts"], "1 images=0");
    EXPECT_EQ(seen["filtered"], "b2,c3,a1 shown=3 / 5"); // a1 and c3 by their parent
}

} // namespace
} // namespace zelkor
