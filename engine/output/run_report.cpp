#include "engine/output/run_report.h"

#include "text/json_text.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace zelkor {

namespace {

std::string padded(std::uint64_t value, int width) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return text;
}

struct Column {
    const char* name;
    std::uint64_t ServiceReport::*field;
};
constexpr Column kColumns[] = {
    {"requests", &ServiceReport::requests}, {"ok", &ServiceReport::ok},
    {"empty", &ServiceReport::empty},       {"failed", &ServiceReport::failed},
    {"blocked", &ServiceReport::blocked},   {"retries", &ServiceReport::retries},
    {"phrases", &ServiceReport::phrases},   {"accepted", &ServiceReport::accepted},
};

ServiceReport totals(const HealthReport& report) {
    ServiceReport sum;
    for (const ServiceReport& s : report.services) {
        for (const Column& column : kColumns)
            sum.*column.field += s.*column.field;
        sum.lost += s.lost;
    }
    return sum;
}

// "Try A, B or C, and see " for the remedies not tried; `none` when all were.
std::string untriedRemedies(const TriedRemedies& tried, const std::array<const char*, 3>& names, const char* lead,
                            const char* lastJoin, const char* tail, const char* none) {
    std::vector<const char*> left;
    if (!tried.retries) left.push_back(names[0]);
    if (!tried.cooldown) left.push_back(names[1]);
    if (!tried.proxies) left.push_back(names[2]);
    if (left.empty()) return none;
    const bool chinese = std::string_view(lastJoin) == "或";
    std::string out = lead;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (i > 0) out += i + 1 == left.size() ? lastJoin : (chinese ? "、" : ", ");
        out += left[i];
    }
    return out + tail;
}

} // namespace

std::string reportTable(const HealthReport& report) {
    // The label goes last: its width on a terminal is not its length in bytes.
    std::vector<int> widths;
    const ServiceReport sum = totals(report);
    std::string out = "source";
    for (const Column& column : kColumns) {
        const int width = std::max<int>(static_cast<int>(std::string_view(column.name).size()),
                                        static_cast<int>(std::to_string(sum.*column.field).size()));
        widths.push_back(width);
        out += "  " + std::string(static_cast<std::size_t>(width) - std::string_view(column.name).size(), ' ') +
               column.name;
    }
    out += "  label\n";
    auto row = [&](const std::string& first, const ServiceReport& s, const std::string& last) {
        std::string line = first;
        if (line.size() < 6) line.insert(0, 6 - line.size(), ' ');
        for (std::size_t i = 0; i < std::size(kColumns); ++i)
            line += "  " + padded(s.*kColumns[i].field, widths[i]);
        return line + "  " + last + "\n";
    };
    for (const ServiceReport& s : report.services)
        out += row(std::to_string(s.source), s, gbk_to_utf8(s.label));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", report.seconds);
    out += row("all", sum,
               std::to_string(report.keywords) + (report.keywords == 1 ? " keyword, " : " keywords, ") + seconds +
                   " s");
    return out;
}

std::string reportJson(const HealthReport& report, const RunEnding* ending) {
    std::string out = "{\"sources\":[";
    for (std::size_t i = 0; i < report.services.size(); ++i) {
        const ServiceReport& s = report.services[i];
        if (i) out += ",";
        out += "{\"source\":" + std::to_string(s.source) + ",\"label\":" + jsonString(gbk_to_utf8(s.label));
        for (const Column& column : kColumns)
            out += ",\"" + std::string(column.name) + "\":" + std::to_string(s.*column.field);
        out += ",\"index\":" + std::to_string(s.source) + "}";
    }
    char seconds[40];
    std::snprintf(seconds, sizeof seconds, "%.3f", report.seconds);
    out += "],\"keywords\":" + std::to_string(report.keywords) + ",\"requests\":" + std::to_string(report.requests) +
           ",\"seconds\":" + seconds;
    if (ending) {
        const ServiceReport sum = totals(report);
        out += ",\"outcome\":" + jsonString(ending->outcome) + ",\"exit\":" + std::to_string(ending->exit) +
               ",\"unanswered\":" + std::to_string(ending->unanswered) + ",\"ok\":" + std::to_string(sum.ok) +
               ",\"empty\":" + std::to_string(sum.empty) + ",\"failed\":" + std::to_string(sum.failed) +
               ",\"blocked\":" + std::to_string(sum.blocked) +
               ",\"lost\":" + std::to_string(sum.lost);
    }
    return out + "}";
}

std::optional<std::string> noAnswerLine(const HealthReport& report, const TriedRemedies& tried) {
    const ServiceReport sum = totals(report);
    if (sum.requests == 0 || sum.ok + sum.empty != 0) return std::nullopt;
    const std::string n = std::to_string(sum.requests);
    if (sum.blocked == 0)
        return "every request failed (" + n +
               " sent, none answered): this usually means no network, a proxy that is down, or a service "
               "that moved. Run 'zelkor-cli probe KEYWORD' to see what each service answers";
    if (sum.failed == 0)
        return "every request was refused (" + n +
               " sent, each answered with HTTP 403, 429, 503 or a verification page): the services are "
               "throttling or blocking this address. " +
               untriedRemedies(tried, {"--retries", "--cooldown", "--proxy"}, "Try ", " or ", ", and see ",
                               "See ") +
               "'zelkor-cli probe KEYWORD'";
    return "no request got an answer (" + std::to_string(sum.failed) + " failed, " + std::to_string(sum.blocked) +
           " refused): this usually means no network, a proxy that is down, a service that moved or one "
           "that blocks this address. Run 'zelkor-cli probe KEYWORD' to see what each service answers";
}

std::vector<Text> reportNotices(const HealthReport& report, bool perService, const TriedRemedies& tried) {
    std::vector<Text> notices;
    if (perService) {
        for (const ServiceReport& s : report.services) {
            notices.push_back(utf8_to_gbk("来源统计 ") + s.label +
                              utf8_to_gbk("：请求 " + std::to_string(s.requests) + "，有结果 " +
                                          std::to_string(s.ok) + "，无结果 " + std::to_string(s.empty) +
                                          "，失败 " + std::to_string(s.failed) + "，被拦截 " +
                                          std::to_string(s.blocked) + "，重试 " + std::to_string(s.retries) +
                                          "，提供 " + std::to_string(s.phrases) + "，采用 " +
                                          std::to_string(s.accepted)));
        }
    }
    const ServiceReport sum = totals(report);
    if (sum.requests != 0 && sum.ok + sum.empty == 0) {
        const std::string n = std::to_string(sum.requests);
        notices.push_back(utf8_to_gbk(
            sum.blocked == 0
                ? "本次运行的 " + n + " 个请求全部失败：通常是没有网络、代理不可用或服务地址已变更，可用 zelkor-cli probe 检查各来源的应答"
                : "本次运行的 " + n + " 个请求都没有得到应答（失败 " + std::to_string(sum.failed) + "，被拦截 " +
                      std::to_string(sum.blocked) +
                      "）：服务可能限制了本机的访问" +
                      untriedRemedies(tried, {"重试次数", "冷却秒数", "代理"}, "，可在“高级”中设置", "或", "", "")));
    }
    return notices;
}

std::optional<Text> lostPhrasesNotice(const HealthReport& report) {
    std::uint64_t lost = 0;
    Text where;
    for (const ServiceReport& s : report.services) {
        if (s.lost == 0) continue;
        lost += s.lost;
        where += (where.empty() ? Text{} : utf8_to_gbk("、")) + s.label + " " + std::to_string(s.lost);
    }
    if (lost == 0) return std::nullopt;
    return utf8_to_gbk("本次运行共舍弃 " + std::to_string(lost) + " 个含有 GBK 无法表示字符的词（") + where + utf8_to_gbk("）");
}

} // namespace zelkor
