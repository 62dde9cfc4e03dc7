#include "analysis/html_report.h"

#include "analysis/keyword_groups.h"

#include "analysis/charts.h"
#include "analysis/svg.h"
#include "engine/output/export_target.h"
#include "text/text.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <unordered_map>

namespace zelkor {

namespace {

using svg::appendEscaped;

// Sorts the results table by the column whose head is clicked (again: the other way), and shows
// only the rows holding the filter's text. Rows keep their first order among equals.
constexpr std::string_view kScript = R"js(
(function () {
  var table = document.getElementById('results');
  if (!table) return;
  var body = table.tBodies[0], heads = table.tHead.rows[0].cells;
  var filter = document.getElementById('filter'), shown = document.getElementById('shown');
  var rows = Array.prototype.slice.call(body.rows);
  for (var i = 0; i < rows.length; i++) rows[i].order = i;
  var collator = new Intl.Collator('zh-Hans-CN', {numeric: true});
  var column = -1, direction = 1;
  function place() {
    var all = document.createDocumentFragment();
    for (var i = 0; i < rows.length; i++) all.appendChild(rows[i]);
    body.appendChild(all);
  }
  function sortBy(c) {
    direction = c === column ? -direction : 1;
    column = c;
    var number = heads[c].hasAttribute('data-number');
    var keys = rows.map(function (row) {
      var text = row.cells[c].textContent;
      return number ? Number(text) : text;
    });
    var index = rows.map(function (row, i) { return i; });
    index.sort(function (a, b) {
      var x = keys[a], y = keys[b];
      var d = number ? x - y : collator.compare(x, y);
      return d * direction || rows[a].order - rows[b].order;
    });
    rows = index.map(function (i) { return rows[i]; });
    for (var h = 0; h < heads.length; h++)
      heads[h].setAttribute('aria-sort', h === c ? (direction > 0 ? 'ascending' : 'descending') : 'none');
    place();
  }
  for (var h = 0; h < heads.length; h++)
    heads[h].addEventListener('click', sortBy.bind(null, h));
  var pending = 0;
  function apply() {
    var text = filter.value.trim().toLowerCase(), count = 0;
    for (var i = 0; i < rows.length; i++) {
      var keep = !text || rows[i].textContent.toLowerCase().indexOf(text) >= 0;
      rows[i].hidden = !keep;
      if (keep) count++;
    }
    shown.textContent = text ? count + ' / ' + rows.length : String(rows.length);
  }
  filter.addEventListener('input', function () {
    clearTimeout(pending);
    pending = setTimeout(apply, rows.length > 20000 ? 250 : 60);
  });
})();
)js";

constexpr std::string_view kStyle = R"css(
body { font-family: "Noto Sans CJK SC", "Source Han Sans SC", "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif;
       margin: 24px auto; max-width: 1100px; padding: 0 16px; color: #222; }
h1 { font-size: 22px; } h2 { font-size: 18px; margin-top: 32px; border-bottom: 1px solid #ddd; }
table { border-collapse: collapse; font-size: 13px; }
th, td { border: 1px solid #ddd; padding: 3px 8px; text-align: left; }
th { background: #f4f4f4; } td.n, th.n { text-align: right; }
#results th { cursor: pointer; user-select: none; }
#results th[aria-sort=ascending]::after { content: " ▲"; }
#results th[aria-sort=descending]::after { content: " ▼"; }
svg { max-width: 100%; height: auto; display: block; margin: 8px 0; }
.charts { display: flex; flex-wrap: wrap; gap: 16px; }
.facts th { width: 8em; }
figure { margin: 16px 0; } figcaption { font-size: 13px; color: #555; }
#filter { font-size: 14px; padding: 4px; width: 20em; }
)css";

std::string sha256Base64(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    unsigned char encoded[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    const int size = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
    return std::string(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
}

std::string duration(double seconds) {
    const long long s = std::llround(std::max(0.0, seconds));
    if (s < 60) return std::to_string(s) + " 秒";
    if (s < 3600) return std::to_string(s / 60) + " 分 " + std::to_string(s % 60) + " 秒";
    return std::to_string(s / 3600) + " 小时 " + std::to_string(s / 60 % 60) + " 分";
}

void row(std::string& out, std::string_view name, std::string_view value) {
    out += "<tr><th>";
    appendEscaped(out, name);
    out += "</th><td>";
    appendEscaped(out, value);
    out += "</td></tr>\n";
}

void summary(std::string& out, const ReportFacts& facts, const RunStatistics& stats) {
    out += "<h2>概况</h2>\n<table class=\"facts\">\n";
    std::string seeds;
    for (const std::string& seed : facts.seeds) seeds += (seeds.empty() ? "" : "、") + seed;
    row(out, "种子", seeds.empty() ? "—" : seeds);
    row(out, "状态", facts.state.empty() ? "—" : facts.state);
    row(out, "开始", !facts.started.empty() ? facts.started : stats.firstTime.empty() ? "—" : stats.firstTime);
    if (!facts.ended.empty()) row(out, "结束", facts.ended);
    if (facts.seconds >= 0) row(out, "用时", duration(facts.seconds));
    if (!stats.lastTime.empty()) row(out, "最后一个结果", stats.lastTime);
    row(out, "结果", std::to_string(stats.results) + " 个");
    if (!facts.store.empty()) row(out, "存储", facts.store);
    out += "</table>\n";
    bool anyOption = false;
    for (const auto& [name, value] : facts.options) anyOption = anyOption || !value.empty();
    if (!anyOption) return;
    out += "<details><summary>选项</summary>\n<table class=\"facts\">\n";
    for (const auto& [name, value] : facts.options)
        if (!value.empty()) row(out, name, value);
    out += "</table></details>\n";
}

void serviceTable(std::string& out, const RunStatistics& stats) {
    out += "<h2>各来源</h2>\n<table id=\"services\"><thead><tr><th>来源</th><th class=\"n\">请求</th>"
           "<th class=\"n\">成功</th><th class=\"n\">空</th><th class=\"n\">失败</th><th class=\"n\">被拦截</th>"
           "<th class=\"n\">提供的词</th><th class=\"n\">采纳</th><th class=\"n\">结果</th><th class=\"n\">占比</th>"
           "</tr></thead><tbody>\n";
    for (const ServiceStats& s : stats.services) {
        out += "<tr><td>";
        appendEscaped(out, s.label);
        out += "</td>";
        for (const std::uint64_t v : {s.requests, s.ok, s.empty, s.failed, s.blocked, s.phrases, s.accepted})
            out += "<td class=\"n\">" + (s.counted ? std::to_string(v) : std::string("—")) + "</td>";
        out += "<td class=\"n\">" + std::to_string(s.results) + "</td><td class=\"n\">" +
               svg::num(std::round(s.share * 1000) / 10) + "%</td></tr>\n";
    }
    out += "</tbody></table>\n";
    if (std::none_of(stats.services.begin(), stats.services.end(), [](const ServiceStats& s) { return s.counted; }))
        out += "<p>请求数只在采集进行时统计；从存储读出的运行只有结果数。</p>\n";
}

void seedTable(std::string& out, const RunStatistics& stats) {
    out += "<h2>各种子</h2>\n<table id=\"seeds\"><thead><tr><th>种子</th><th class=\"n\">结果</th>"
           "<th class=\"n\">最深层级</th></tr></thead><tbody>\n";
    for (const SeedStats& seed : stats.seeds) {
        out += "<tr><td>";
        appendEscaped(out, seed.seed);
        out += "</td><td class=\"n\">" + std::to_string(seed.results) + "</td><td class=\"n\">" +
               std::to_string(seed.deepest) + "</td></tr>\n";
    }
    out += "</tbody></table>\n";
}

// The roots most phrases share, and how many phrases each intent tag has, with a few of them.
void wordTables(std::string& out, const std::vector<ResultRecord>& results, const KeywordWords& words) {
    out += "<h2>词根与意图</h2>\n<p>词根：种子之外最常见的词，一个词归到它最常见的那个词根。</p>\n"
           "<table id=\"roots\"><thead><tr><th>词根</th><th class=\"n\">词数</th></tr></thead><tbody>\n";
    const auto& roots = words.rootCounts();
    for (std::size_t i = 0; i < roots.size() && i < kReportRoots; ++i) {
        out += "<tr><td>";
        appendEscaped(out, roots[i].word);
        out += "</td><td class=\"n\">" + std::to_string(roots[i].phrases) + "</td></tr>\n";
    }
    out += "</tbody></table>\n<table id=\"tags\"><thead><tr><th>意图</th><th class=\"n\">词数</th><th>例如</th></tr>"
           "</thead><tbody>\n";
    for (const ResultGroup& group : groupKeywords(words, GroupBy::Tag)) {
        out += "<tr><td>";
        appendEscaped(out, group.name);
        out += "</td><td class=\"n\">" + std::to_string(group.members.size()) + "</td><td>";
        for (std::size_t k = 0; k < group.members.size() && k < 5; ++k) {
            if (k) out += "、";
            appendEscaped(out, gbk_to_utf8(results[group.members[k]].keyword));
        }
        out += "</td></tr>\n";
    }
    out += "</tbody></table>\n";
}

void maps(std::string& out, const RunStatistics& stats, const DemandMapLimits& limits, HtmlReport& report) {
    out += "<h2>需求图谱</h2>\n<p>种子在中心，外面一圈是它带出的词，再外面是这些词带出的词；"
           "每个词只画下面词最多的几个，其余的合成“+数目”。</p>\n";
    const std::size_t count = std::min(stats.tree.roots.size(), static_cast<std::size_t>(kMaxSeedMaps));
    for (std::size_t i = 0; i < count; ++i) {
        const DemandMapLayout layout = layoutDemandMap(stats.tree, stats.tree.roots[i], limits);
        out += "<figure>" + demandMapSvg(layout, "map-" + std::to_string(i + 1)) + "<figcaption>";
        appendEscaped(out, layout.labels.front().full);
        out += "：共 " + std::to_string(layout.phrases) + " 个词，图中 " + std::to_string(layout.shown) +
               " 个</figcaption></figure>\n";
        ++report.maps;
        report.labelledNodes += static_cast<int>(layout.labels.size()) - 1;
    }
    if (stats.tree.roots.size() > count)
        out += "<p>另有 " + std::to_string(stats.tree.roots.size() - count) + " 个种子的图谱未画出，见“各种子”。</p>\n";
}

// Times in one day are shown by the clock alone; the day is in the summary.
std::string shownTime(const std::string& time, std::string_view day) {
    if (!day.empty() && time.size() >= 19 && std::string_view(time).substr(0, 10) == day) return time.substr(11, 8);
    return time;
}

void resultsTable(std::string& out, const std::vector<ResultRecord>& results, const RunStatistics& stats) {
    std::string_view day;
    if (stats.firstTime.size() >= 19 && stats.lastTime.size() >= 19 &&
        stats.firstTime.compare(0, 10, stats.lastTime, 0, 10) == 0)
        day = std::string_view(stats.firstTime).substr(0, 10);
    for (const ResultRecord& r : results)
        if (!day.empty() && std::string_view(r.time).substr(0, std::min<std::size_t>(10, r.time.size())) != day) {
            day = {};
            break;
        }
    out += "<h2>全部结果</h2>\n<p><label>筛选 <input id=\"filter\" type=\"search\" placeholder=\"输入词的一部分\"></label>"
           " 显示 <span id=\"shown\">" +
           std::to_string(results.size()) + "</span> 个；点表头排序</p>\n";
    out += "<table id=\"results\"><thead><tr><th>关键词</th><th>来源</th><th>种子</th><th>上级词</th>"
           "<th data-number class=\"n\">层级</th><th>时间</th></tr></thead><tbody>\n";
    // The closing tags of rows and cells are implied; at 10^5 rows they are a fifth of the file.
    std::unordered_map<Text, std::string> repeated;
    const auto cached = [&](const Text& gbk) -> const std::string& {
        auto found = repeated.find(gbk);
        if (found == repeated.end()) found = repeated.emplace(gbk, svg::escape(gbk_to_utf8(gbk))).first;
        return found->second;
    };
    for (const ResultRecord& r : results) {
        out += "<tr><td>";
        appendEscaped(out, gbk_to_utf8(r.keyword));
        out += "<td>";
        out += cached(r.sourceName);
        out += "<td>";
        out += cached(r.mainWord);
        out += "<td>";
        appendEscaped(out, gbk_to_utf8(r.parent));
        out += "<td class=\"n\">" + std::to_string(r.depth) + "<td>";
        appendEscaped(out, shownTime(r.time, day));
        out += "\n";
    }
    out += "</tbody></table>\n";
}

} // namespace

HtmlReport makeHtmlReport(const ReportFacts& facts, const std::vector<ResultRecord>& results,
                          const HealthReport* health, const DemandMapLimits& limits, const KeywordWords* words) {
    HtmlReport report;
    const RunStatistics stats = computeStatistics(results, health, facts.seeds);
    std::string& out = report.html;
    out.reserve(results.size() * 120 + 200000);
    std::string title = "采集报告";
    if (!facts.seeds.empty()) title += "：" + facts.seeds.front() + (facts.seeds.size() > 1 ? " 等" : "");
    out += "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
           "script-src 'sha256-" +
           sha256Base64(kScript) + "'\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    appendEscaped(out, title);
    out += "</title>\n<style>" + std::string(kStyle) + "</style></head>\n<body>\n<h1>";
    appendEscaped(out, title);
    out += "</h1>\n";
    summary(out, facts, stats);
    out += "<h2>图表</h2>\n<div class=\"charts\">" + serviceBarChart(stats) + depthHistogram(stats) + growthLine(stats) +
           "</div>\n";
    maps(out, stats, limits, report);
    serviceTable(out, stats);
    seedTable(out, stats);
    if (words && words->size() == results.size()) wordTables(out, results, *words);
    resultsTable(out, results, stats);
    out += "<script>" + std::string(kScript) + "</script>\n</body></html>\n";
    return report;
}

Expected<Done> writeReportFile(const std::filesystem::path& file, const std::string& html,
                               const std::vector<std::filesystem::path>& protectedFiles) {
    std::string error;
    const std::optional<ExportTarget> target = resolveExportTarget(file, protectedFiles, &error);
    if (!target) return Error{error};
    TempFile temp(*target);
    bool ok = temp.fd() >= 0;
    for (std::size_t done = 0; ok && done < html.size();) {
        const ssize_t n = ::write(temp.fd(), html.data() + done, html.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    if (ok && temp.commit()) return Done{};
    return Error{"cannot write " + target->file.string() + ": " + std::strerror(errno)};
}

} // namespace zelkor
