#include "analysis/run_statistics.h"

#include "text/text.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace zelkor {

namespace {

bool digits(std::string_view text, std::size_t from, std::size_t count, int& value) {
    if (from + count > text.size()) return false;
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Converting every phrase through iconv is most of the cost; services and seeds repeat.
class Utf8Cache {
  public:
    const std::string& operator()(const Text& gbk) {
        auto found = m_cache.find(gbk);
        if (found == m_cache.end()) found = m_cache.emplace(gbk, gbk_to_utf8(gbk)).first;
        return found->second;
    }

  private:
    std::unordered_map<Text, std::string> m_cache;
};

} // namespace

std::optional<std::int64_t> parseIsoTime(std::string_view text) {
    int y, mo, d, h, mi, s;
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
        text[13] != ':' || text[16] != ':' || !digits(text, 0, 4, y) || !digits(text, 5, 2, mo) ||
        !digits(text, 8, 2, d) || !digits(text, 11, 2, h) || !digits(text, 14, 2, mi) || !digits(text, 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    std::int64_t seconds = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    std::string_view zone = text.substr(19);
    if (!zone.empty() && zone.front() == '.') { // fractions of a second
        zone.remove_prefix(1);
        while (!zone.empty() && zone.front() >= '0' && zone.front() <= '9') zone.remove_prefix(1);
    }
    if (zone.empty() || zone == "Z") return seconds;
    int oh, om;
    const bool colon = zone.size() == 6 && zone[3] == ':';
    if ((zone.front() != '+' && zone.front() != '-') || (zone.size() != 5 && !colon) || !digits(zone, 1, 2, oh) ||
        !digits(zone, colon ? 4 : 3, 2, om) || oh > 23 || om > 59)
        return std::nullopt;
    const std::int64_t offset = oh * 3600 + om * 60;
    return zone.front() == '+' ? seconds - offset : seconds + offset;
}

RunStatistics computeStatistics(const std::vector<ResultRecord>& results, const HealthReport* health,
                                const std::vector<std::string>& seeds) {
    RunStatistics stats;
    stats.results = results.size();
    Utf8Cache utf8;

    // Seeds and their trees' roots.
    DemandTree& tree = stats.tree;
    std::unordered_map<std::string, std::size_t> seedIndex; // UTF-8 seed -> index in stats.seeds
    std::vector<int> rootOf;                                // per node
    rootOf.reserve(results.size() + seeds.size());
    const auto seedOf = [&](const std::string& seed) {
        auto found = seedIndex.find(seed);
        if (found != seedIndex.end()) return found->second;
        const std::size_t index = stats.seeds.size();
        seedIndex.emplace(seed, index);
        stats.seeds.push_back({seed, 0, 0});
        tree.roots.push_back(static_cast<int>(tree.nodes.size()));
        rootOf.push_back(tree.roots.back());
        tree.nodes.push_back({seed, -1, 0, 1, {}});
        return index;
    };
    for (const std::string& seed : seeds) seedOf(seed);

    std::unordered_map<std::string, std::size_t> serviceIndex;
    std::map<int, std::uint64_t> depths;
    // A keyword's node, by its GBK bytes, pointing into `results`, which outlive this call.
    std::unordered_map<std::string_view, int> nodeOf;
    tree.nodes.reserve(tree.nodes.size() + results.size());
    nodeOf.reserve(results.size());

    std::optional<std::int64_t> firstMinute, lastMinute;
    std::vector<std::optional<std::int64_t>> minutes;
    minutes.reserve(results.size());

    for (const ResultRecord& record : results) {
        const std::string& sourceLabel = utf8(record.sourceName);
        auto service = serviceIndex.find(sourceLabel);
        if (service == serviceIndex.end()) {
            service = serviceIndex.emplace(sourceLabel, stats.services.size()).first;
            stats.services.push_back({});
            stats.services.back().label = sourceLabel;
        }
        ++stats.services[service->second].results;
        ++depths[record.depth];

        const std::size_t seed = seedOf(utf8(record.mainWord));
        SeedStats& seedStats = stats.seeds[seed];
        ++seedStats.results;
        seedStats.deepest = std::max(seedStats.deepest, record.depth);

        const int root = tree.roots[seed];
        // Depth 1 was offered by the seed itself, even when a result spells the same phrase.
        int parent = root;
        if (const auto found = record.depth > 1 ? nodeOf.find(record.parent) : nodeOf.end();
            found != nodeOf.end() && rootOf[found->second] == root)
            parent = found->second;
        const int node = static_cast<int>(tree.nodes.size());
        tree.nodes.push_back({gbk_to_utf8(record.keyword), parent, tree.nodes[parent].depth + 1, 1, {}});
        tree.nodes[parent].children.push_back(node);
        rootOf.push_back(root);
        nodeOf.emplace(record.keyword, node); // a repeated keyword keeps its first place

        const auto when = parseIsoTime(record.time);
        minutes.push_back(when ? std::optional<std::int64_t>(*when >= 0 ? *when / 60 : (*when - 59) / 60)
                               : std::nullopt);
        if (when) {
            if (stats.firstTime.empty()) stats.firstTime = record.time;
            stats.lastTime = record.time;
            firstMinute = std::min(firstMinute.value_or(*minutes.back()), *minutes.back());
            lastMinute = std::max(lastMinute.value_or(*minutes.back()), *minutes.back());
        }
    }
    // Children come after their parents: one pass from the end sums every subtree.
    for (std::size_t i = tree.nodes.size(); i-- > 0;)
        if (const int parent = tree.nodes[i].parent; parent >= 0) tree.nodes[parent].subtree += tree.nodes[i].subtree;

    for (const auto& [depth, count] : depths) stats.depths.push_back({depth, count});

    if (firstMinute) {
        const std::uint64_t span = static_cast<std::uint64_t>(*lastMinute - *firstMinute) + 1;
        std::uint64_t width = 1;
        while ((span + width - 1) / width > RunStatistics::kMaxBuckets) width *= 2;
        stats.bucketMinutes = static_cast<int>(width);
        stats.perMinute.assign((span + width - 1) / width, 0);
        for (const auto& minute : minutes)
            if (minute) ++stats.perMinute[static_cast<std::size_t>(*minute - *firstMinute) / width];
    }

    if (health) {
        for (const ServiceReport& report : health->services) {
            const std::string label = gbk_to_utf8(report.label);
            auto found = serviceIndex.find(label);
            if (found == serviceIndex.end()) {
                found = serviceIndex.emplace(label, stats.services.size()).first;
                stats.services.push_back({});
                stats.services.back().label = label;
            }
            ServiceStats& service = stats.services[found->second];
            service.source = report.source;
            service.counted = true;
            service.requests = report.requests;
            service.ok = report.ok;
            service.empty = report.empty;
            service.failed = report.failed;
            service.blocked = report.blocked;
            service.phrases = report.phrases;
            service.accepted = report.accepted;
        }
    }
    for (ServiceStats& service : stats.services)
        service.share = stats.results ? static_cast<double>(service.results) / static_cast<double>(stats.results) : 0;
    std::stable_sort(stats.services.begin(), stats.services.end(), [](const ServiceStats& a, const ServiceStats& b) {
        if (a.results != b.results) return a.results > b.results;
        return a.requests > b.requests;
    });
    return stats;
}

} // namespace zelkor
