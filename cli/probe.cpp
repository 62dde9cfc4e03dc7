#include "cli/command.h"
#include "cli/run_options.h"

#include "engine/run/answer_limits.h"
#include "sources/endpoints.h"
#include "sources/sources.h"
#include "sources/table_source.h"
#include "text/json_text.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace zelkor::cli {

class ProbeCommand final : public Command {
  public:
    std::string name() const override { return "probe"; }
    std::string description() const override {
        return "Ask each chosen source (default: all of them) once for KEYWORD, exactly as a run would, and "
               "print the URL, the status, the class of the answer (ok, empty, failed or blocked), the body "
               "size and the phrases the source would offer, in order. Nothing is saved.";
    }

    void define(CLI::App& app) override {
        app.add_option("--source", m_sources,
                       "Source indexes (0-24, and any a sources file adds) as a comma list, 'all' or "
                       "'domestic'; may be repeated "
                       "(default: all)")
            ->option_text("N")
            ->allow_extra_args(false);
        app.add_flag("--json", m_json, "One JSON object per source per line, UTF-8 (default: text)")
            ->disable_flag_override();
        numberOption(app.add_option("--max-answer-mib", m_maxAnswerMib, "Refuse an answer larger than N MiB (default: 8)"),
                     "N", wholeRange(1, kMaxAnswerMib));
        numberOption(app.add_option("--deadline", m_deadline, "Give up on a request after S seconds in all (default: 60)"),
                     "S", wholeRange(1, kMaxDeadlineSeconds));
        app.add_flag("--verify-tls", m_verifyTls, "Check the services' certificates (default: off)")
            ->disable_flag_override();
        app.add_option("KEYWORD", m_keyword, "The keyword, UTF-8 or GBK")->required();
    }

    int execute(const SharedOptions& shared) override;

  private:
    std::vector<std::string> m_sources;
    bool m_json = false;
    bool m_verifyTls = false;
    int m_maxAnswerMib = 0; // 0: the default
    int m_deadline = 0;
    std::string m_keyword;
};

int ProbeCommand::execute(const SharedOptions& shared) {
    std::string error;
    const std::optional<SourceRows> rows = shared.loadSources(&error);
    if (!rows) return fail(error);
    const int sourceCount = static_cast<int>(rows->size());
    std::vector<int> chosen;
    for (const auto& list : m_sources) {
        const auto indexes = parseSourceList(list, sourceCount);
        if (!indexes)
            return fail("probe --source takes indexes 0-" + std::to_string(sourceCount - 1) +
                        ", 'all' or 'domestic', not \"" + list + "\"");
        chosen.insert(chosen.end(), indexes->begin(), indexes->end());
    }
    if (m_sources.empty()) chosen = *parseSourceList("all", sourceCount);

    const auto endpoints = shared.loadEndpoints(sourceCount, &error);
    if (!endpoints) return fail(error);

    const bool json = m_json;
    const std::string& word = m_keyword;
    const Text keyword = inputToGbk(word);

    AnswerLimits limits;
    limits.maxBodyBytes = static_cast<std::int64_t>(m_maxAnswerMib) << 20;
    limits.totalSeconds = m_deadline;
    limits.verifyTls = m_verifyTls;

    for (int index : chosen) {
        const auto source = make_table_source((*rows)[static_cast<std::size_t>(index)], *endpoints);
        const SourceFetch fetched = source->fetch(keyword, {}, {}, limits);
        const std::vector<Text> phrases = source->extract(fetched.body, nullptr, fetched.reencoded);
        const std::string label = gbk_to_utf8(source->label());
        const std::string status = gbk_to_utf8(fetched.status);
        const std::string answerClass(answerClassName(classifyFetch(fetched, phrases)));
        if (json) {
            std::string line = "{\"source\":" + std::to_string(index) + ",\"label\":" + jsonString(label) +
                               ",\"url\":" + jsonString(gbk_to_utf8(fetched.url)) +
                               ",\"status\":" + jsonString(status) +
                               ",\"bytes\":" + std::to_string(fetched.bytes) + ",\"phrases\":[";
            for (std::size_t k = 0; k < phrases.size(); ++k)
                line += (k ? "," : "") + jsonString(gbk_to_utf8(phrases[k]));
            std::cout << line << "],\"class\":" << jsonString(answerClass) << "}\n";
        } else {
            const bool plain = source->row().fetch == FetchKind::Plain;
            std::cout << "#" << index << " " << label << "\n"
                      << "  url: " << gbk_to_utf8(fetched.url) << "\n"
                      << "  status: "
                      << (plain            ? "(plain fetch)"
                          : status.empty() ? "(none)"
                                           : status)
                      << "\n"
                      << "  class: " << answerClass << "\n"
                      << "  bytes: " << fetched.bytes << "\n"
                      << "  phrases: " << phrases.size() << "\n";
            for (const Text& phrase : phrases)
                std::cout << "    " << (phrase.empty() ? std::string("\"\"") : gbk_to_utf8(phrase)) << "\n";
        }
        std::cout.flush();
    }
    return 0;
}

std::unique_ptr<Command> makeProbeCommand() {
    return std::make_unique<ProbeCommand>();
}

} // namespace zelkor::cli
