#include "analysis/root_words.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_map>

namespace zelkor {
namespace {

// Words too slight to name a group: particles and joining words. They still count for the tags.
constexpr std::array<std::string_view, 24> kParticles = {"的", "了", "呢", "啊", "吧", "呀", "么", "着",
                                                         "地", "得", "之", "也", "就", "都", "又", "个",
                                                         "和", "与", "及", "或", "吗", "是", "在", "有"};

bool isParticle(std::string_view word) {
    return std::find(kParticles.begin(), kParticles.end(), word) != kParticles.end();
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

// `text` without the occurrences of `cut`, as the pieces between them.
std::vector<std::string> piecesWithout(const std::string& text, const std::string& cut) {
    std::vector<std::string> pieces;
    if (cut.empty()) return {text};
    std::size_t from = 0;
    for (std::size_t at = text.find(cut); at != std::string::npos; at = text.find(cut, from)) {
        pieces.push_back(text.substr(from, at - from));
        from = at + cut.size();
    }
    pieces.push_back(text.substr(from));
    return pieces;
}

struct SeedWords {
    std::vector<std::string> texts; // lower-cased: the whole seed without blanks, then its parts, longest first
    std::vector<std::string> words; // the seed's own words
};

std::string withoutBlanks(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '\t') out += c;
    return out;
}

std::vector<std::string> splitAtBlanks(const std::string& text) {
    std::vector<std::string> chunks(1);
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!chunks.back().empty()) chunks.emplace_back();
        } else {
            chunks.back() += c;
        }
    }
    return chunks;
}

std::vector<std::string> beyond(Segmenter& segmenter, std::string_view phrase, const SeedWords& seed,
                                std::vector<std::string>* allWords) {
    std::vector<std::string> out;
    std::vector<std::string> pieces = splitAtBlanks(lower(phrase));
    for (const std::string& cut : seed.texts) {
        std::vector<std::string> rest;
        for (const std::string& piece : pieces)
            for (std::string& p : piecesWithout(piece, cut))
                if (!p.empty()) rest.push_back(std::move(p));
        pieces = std::move(rest);
    }
    for (const std::string& piece : pieces) {
        for (std::string& word : segmenter.words(piece)) {
            if (allWords) allWords->push_back(word);
            if (isParticle(word) || std::find(seed.words.begin(), seed.words.end(), word) != seed.words.end())
                continue;
            if (std::find(out.begin(), out.end(), word) == out.end()) out.push_back(std::move(word));
        }
    }
    return out;
}

SeedWords seedWords(Segmenter& segmenter, std::string_view seed) {
    SeedWords s;
    std::string lowered = lower(seed);
    s.texts.push_back(withoutBlanks(lowered));
    for (std::string& part : splitAtBlanks(lowered))
        if (!part.empty() && part != s.texts.front()) s.texts.push_back(std::move(part));
    std::stable_sort(s.texts.begin(), s.texts.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& text : s.texts)
        for (std::string& w : segmenter.words(text)) s.words.push_back(std::move(w));
    return s;
}

} // namespace

std::vector<std::string> wordsBeyondSeed(Segmenter& segmenter, std::string_view phrase, std::string_view seed) {
    return beyond(segmenter, phrase, seedWords(segmenter, seed), nullptr);
}

KeywordWords analyseKeywords(Segmenter& segmenter, const IntentTags& tags, std::span<const PhraseOfSeed> phrases) {
    KeywordWords result;
    for (const IntentFamily& f : tags.families()) result.m_families.push_back(f.name);
    std::unordered_map<std::string_view, SeedWords> seeds;
    std::unordered_map<std::string, std::uint32_t> ids;
    std::vector<std::size_t> counts;
    // Each phrase's distinct words as ids, one after another, and how many each has.
    std::vector<std::uint32_t> wordIds;
    std::vector<std::uint8_t> wordCounts;
    wordCounts.reserve(phrases.size());
    wordIds.reserve(phrases.size() * 3); // keyword phrases hold two or three words beyond the seed
    result.m_tagMasks.reserve(phrases.size());
    for (const PhraseOfSeed& p : phrases) {
        auto seed = seeds.find(p.seed);
        if (seed == seeds.end()) seed = seeds.emplace(p.seed, seedWords(segmenter, p.seed)).first;
        std::vector<std::string> all = seed->second.words;
        std::uint8_t held = 0;
        for (std::string& word : beyond(segmenter, p.phrase, seed->second, &all)) {
            if (held == 255) break; // a phrase's root is among its first words
            auto [at, added] = ids.try_emplace(std::move(word), static_cast<std::uint32_t>(counts.size()));
            if (added) counts.push_back(0);
            ++counts[at->second];
            wordIds.push_back(at->second);
            ++held;
        }
        wordCounts.push_back(held);
        result.m_tagMasks.push_back(tags.maskOf(p.phrase, all));
    }
    result.m_words.resize(counts.size());
    for (auto& [word, id] : ids) result.m_words[id] = word;
    result.m_rootIds.reserve(phrases.size());
    for (std::size_t i = 0, from = 0; i < phrases.size(); from += wordCounts[i++]) {
        std::uint32_t best = KeywordWords::kNoRoot;
        for (std::size_t k = from; k < from + wordCounts[i]; ++k) { // ties go to the longer word, then the earlier one
            std::uint32_t w = wordIds[k];
            if (best == KeywordWords::kNoRoot || counts[w] > counts[best] ||
                (counts[w] == counts[best] && result.m_words[w].size() > result.m_words[best].size()))
                best = w;
        }
        result.m_rootIds.push_back(best);
    }
    for (std::size_t id = 0; id < counts.size(); ++id) result.m_rootCounts.push_back({result.m_words[id], counts[id]});
    std::sort(result.m_rootCounts.begin(), result.m_rootCounts.end(), [](const RootCount& a, const RootCount& b) {
        return a.phrases != b.phrases ? a.phrases > b.phrases : a.word < b.word;
    });
    return result;
}

std::string_view KeywordWords::root(std::size_t phrase) const {
    std::uint32_t id = m_rootIds[phrase];
    return id == kNoRoot ? std::string_view() : std::string_view(m_words[id]);
}

std::vector<std::string> KeywordWords::tags(std::size_t phrase) const {
    std::vector<std::string> out;
    for (std::size_t f = 0; f < m_families.size(); ++f)
        if (m_tagMasks[phrase] & (std::uint32_t{1} << f)) out.push_back(m_families[f]);
    return out;
}

} // namespace zelkor
