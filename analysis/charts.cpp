#include "analysis/charts.h"

#include "analysis/svg.h"

#include <algorithm>
#include <cmath>

namespace zelkor {

namespace {

using svg::num;

constexpr const char* kBarColour = "#3b78c3";
constexpr const char* kInk = "#333333";
constexpr const char* kFaint = "#dddddd";

// A step of 1, 2 or 5 times a power of ten that cuts [0, top] into at most `ticks` parts.
double niceStep(double top, int ticks) {
    if (top <= 0) return 1;
    const double raw = top / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return std::max(1.0, m * power);
    return std::max(1.0, 10 * power);
}

std::string count(std::uint64_t value) {
    return std::to_string(value);
}

void text(std::string& out, double x, double y, std::string_view anchor, std::string_view content,
          std::string_view cls = {}, std::string_view fill = kInk) {
    out += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" text-anchor=\"" + std::string(anchor) + "\" fill=\"" +
           std::string(fill) + "\"";
    if (!cls.empty()) out += " class=\"" + std::string(cls) + "\"";
    out += ">";
    svg::appendEscaped(out, content);
    out += "</text>";
}

void line(std::string& out, double x1, double y1, double x2, double y2, std::string_view colour) {
    out += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" + num(y2) +
           "\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1\"/>";
}

// Grid lines and their values up the left of a plot [left, right] x [top, bottom] for 0..maximum.
double valueAxis(std::string& out, double left, double right, double top, double bottom, double maximum) {
    const double step = niceStep(maximum, 5);
    const double axisTop = std::max(step, std::ceil(maximum / step) * step);
    for (double v = 0; v <= axisTop + step / 2; v += step) {
        const double y = bottom - (bottom - top) * v / axisTop;
        line(out, left, y, right, y, kFaint);
        text(out, left - 6, y + 4, "end", count(static_cast<std::uint64_t>(v)), "axis-label");
    }
    return axisTop;
}

std::string noData(double width, double height, std::string_view id, std::string_view title) {
    std::string out = svg::open(width, height, id, title);
    text(out, width / 2, height / 2, "middle", "没有数据", {}, "#888888");
    return out + "</svg>";
}

} // namespace

std::string serviceBarChart(const RunStatistics& stats) {
    struct Bar {
        std::string label;
        std::uint64_t value;
    };
    std::vector<Bar> bars;
    for (const ServiceStats& service : stats.services) {
        if (static_cast<int>(bars.size()) < kMaxServiceBars - 1 ||
            stats.services.size() <= static_cast<std::size_t>(kMaxServiceBars))
            bars.push_back({service.label, service.results});
        else if (static_cast<int>(bars.size()) == kMaxServiceBars - 1)
            bars.push_back({"其他", service.results});
        else
            bars.back().value += service.results;
    }
    constexpr double kWidth = 640, kRow = 24, kTop = 36, kLabel = 150, kBarRoom = 360;
    const double height = kTop + kRow * static_cast<double>(std::max<std::size_t>(bars.size(), 1)) + 16;
    const char* title = "各来源的结果数";
    if (bars.empty() || stats.results == 0) return noData(kWidth, 120, "chart-services", title);
    std::string out = svg::open(kWidth, height, "chart-services", title);
    text(out, 12, 20, "start", title, "chart-title");
    const std::uint64_t maximum = std::max_element(bars.begin(), bars.end(), [](const Bar& a, const Bar& b) {
                                      return a.value < b.value;
                                  })->value;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const double y = kTop + kRow * static_cast<double>(i);
        const double width = maximum ? kBarRoom * static_cast<double>(bars[i].value) / static_cast<double>(maximum) : 0;
        text(out, kLabel - 8, y + 16, "end", svg::fitText(bars[i].label, 12, kLabel - 16), "axis-label");
        out += "<rect class=\"bar\" x=\"" + num(kLabel) + "\" y=\"" + num(y + 4) + "\" width=\"" +
               num(std::max(width, 1.0)) + "\" height=\"" + num(kRow - 8) + "\" fill=\"" + kBarColour + "\"><title>";
        svg::appendEscaped(out, bars[i].label);
        out += "</title></rect>";
        const double share = 100.0 * static_cast<double>(bars[i].value) / static_cast<double>(stats.results);
        text(out, kLabel + std::max(width, 1.0) + 6, y + 16, "start",
             count(bars[i].value) + "（" + num(std::round(share * 10) / 10) + "%）");
    }
    return out + "</svg>";
}

std::string depthHistogram(const RunStatistics& stats) {
    struct Bar {
        std::string label;
        std::uint64_t value;
    };
    std::vector<Bar> bars;
    for (const DepthCount& depth : stats.depths) {
        if (static_cast<int>(bars.size()) < kMaxDepthBars - 1 || stats.depths.size() <= static_cast<std::size_t>(kMaxDepthBars))
            bars.push_back({std::to_string(depth.depth), depth.count});
        else if (static_cast<int>(bars.size()) == kMaxDepthBars - 1)
            bars.push_back({"≥" + std::to_string(depth.depth), depth.count});
        else
            bars.back().value += depth.count;
    }
    constexpr double kWidth = 640, kHeight = 260, kLeft = 60, kRight = 620, kTop = 40, kBottom = 220;
    const char* title = "各层级的结果数";
    if (bars.empty()) return noData(kWidth, kHeight, "chart-depths", title);
    std::string out = svg::open(kWidth, kHeight, "chart-depths", title);
    text(out, 12, 20, "start", title, "chart-title");
    std::uint64_t maximum = 0;
    for (const Bar& bar : bars) maximum = std::max(maximum, bar.value);
    const double axisTop = valueAxis(out, kLeft, kRight, kTop, kBottom, static_cast<double>(maximum));
    const double slot = (kRight - kLeft) / static_cast<double>(bars.size());
    const double barWidth = std::min(60.0, slot * 0.7);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const double centre = kLeft + slot * (static_cast<double>(i) + 0.5);
        const double h = (kBottom - kTop) * static_cast<double>(bars[i].value) / axisTop;
        out += "<rect class=\"bar\" x=\"" + num(centre - barWidth / 2) + "\" y=\"" + num(kBottom - h) +
               "\" width=\"" + num(barWidth) + "\" height=\"" + num(h) + "\" fill=\"" + kBarColour + "\"/>";
        if (slot >= 24) text(out, centre, kBottom - h - 4, "middle", count(bars[i].value));
        text(out, centre, kBottom + 16, "middle", bars[i].label, "axis-label");
    }
    line(out, kLeft, kBottom, kRight, kBottom, kInk);
    text(out, (kLeft + kRight) / 2, kHeight - 4, "middle", "层级（种子的答案为第 1 层）");
    return out + "</svg>";
}

std::string growthLine(const RunStatistics& stats) {
    constexpr double kWidth = 640, kHeight = 260, kLeft = 60, kRight = 620, kTop = 40, kBottom = 220;
    const char* title = "结果数的增长";
    if (stats.perMinute.empty()) return noData(kWidth, kHeight, "chart-growth", title);
    std::string out = svg::open(kWidth, kHeight, "chart-growth", title);
    text(out, 12, 20, "start", title, "chart-title");
    std::uint64_t total = 0;
    for (const std::uint64_t n : stats.perMinute) total += n;
    const double axisTop = valueAxis(out, kLeft, kRight, kTop, kBottom, static_cast<double>(total));
    // The line starts at 0 at the first minute's start and has a point at the end of every span.
    const double spans = static_cast<double>(stats.perMinute.size());
    const double minutes = spans * stats.bucketMinutes;
    const double step = niceStep(minutes, 6);
    for (double m = 0; m <= minutes + 1e-9; m += step) {
        const double x = kLeft + (kRight - kLeft) * m / minutes;
        line(out, x, kBottom, x, kBottom + 4, kInk);
        text(out, x, kBottom + 16, "middle", num(m), "axis-label");
    }
    std::string points = num(kLeft) + "," + num(kBottom);
    std::string marks;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < stats.perMinute.size(); ++i) {
        sum += stats.perMinute[i];
        const double x = kLeft + (kRight - kLeft) * static_cast<double>(i + 1) / spans;
        const double y = kBottom - (kBottom - kTop) * static_cast<double>(sum) / axisTop;
        points += " " + num(x) + "," + num(y);
        // Points past a hundred only crowd the line.
        if (stats.perMinute.size() <= 100)
            marks += "<circle class=\"point\" cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"2.5\" fill=\"" +
                     kBarColour + "\"/>";
    }
    out += "<polyline class=\"line\" points=\"" + points + "\" fill=\"none\" stroke=\"" + kBarColour +
           "\" stroke-width=\"2\"/>";
    out += marks;
    line(out, kLeft, kBottom, kRight, kBottom, kInk);
    text(out, (kLeft + kRight) / 2, kHeight - 4, "middle",
         stats.bucketMinutes == 1 ? std::string("分钟（自第一个结果起）")
                                  : "分钟（自第一个结果起，每点 " + std::to_string(stats.bucketMinutes) + " 分钟）");
    return out + "</svg>";
}

} // namespace zelkor
