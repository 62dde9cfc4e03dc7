#include "cli/probe.h"

#include "cli/run_options.h"

#include "engine/program_dir.h"
#include "sources/endpoints.h"
#include "sources/sources.h"
#include "sources/table_source.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace zelkor::cli {

namespace {

constexpr const char* kUsage =
    "usage: zelkor-cli probe [--source N ...] [--json] [--endpoints F] [--sources-file F] KEYWORD\n"
    "Asks each chosen source (default: all of them) once for KEYWORD, exactly as a run would, and prints\n"
    "the URL, the status, the class of the answer (ok, empty, failed or blocked), the body size and the\n"
    "phrases the source would offer, in order. Nothing is saved.\n"
    "  --source N        a source index (0-24, and any a sources file adds), or a comma list; may be repeated\n"
    "  --json            one JSON object per source per line (UTF-8)\n"
    "  --endpoints F     the endpoints file (default: $ZELKOR_ENDPOINTS, else <home>/data/endpoints.ini)\n"
    "  --sources-file F  source table changes in TOML (default: <home>/data/sources.toml when present)\n";

std::string jsonString(std::string_view utf8) {
    std::string out = "\"";
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

// Indexes are checked against the table once it is read.
bool parseIndexes(const std::string& list, std::vector<int>& chosen) {
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.empty() || item.size() > 3 || item.find_first_not_of("0123456789") != std::string::npos)
            return false;
        chosen.push_back(std::stoi(item));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

} // namespace

int probeMain(int argc, char** argv) {
    std::vector<int> chosen;
    bool json = false;
    std::string endpointsFile;
    std::string sourcesFile;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> attached; // --name=value
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            attached = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const bool takesValue = arg == "--source" || arg == "--endpoints" || arg == "--sources-file";
        if (attached && !takesValue) {
            std::cerr << "zelkor-cli probe: unknown option " << argv[i] << "\n" << kUsage;
            return 2;
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (takesValue) {
            if (!attached && i + 1 >= argc) {
                std::cerr << "zelkor-cli probe: " << arg << " needs a value\n" << kUsage;
                return 2;
            }
            const std::string value = attached ? *attached : std::string(argv[++i]);
            if (arg == "--endpoints") {
                endpointsFile = value;
            } else if (arg == "--sources-file") {
                sourcesFile = value;
            } else if (!parseIndexes(value, chosen)) {
                std::cerr << "zelkor-cli probe: --source takes source indexes, not \"" << value << "\"\n";
                return 2;
            }
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                words.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "zelkor-cli probe: unknown option " << arg << "\n" << kUsage;
            return 2;
        } else {
            words.push_back(arg);
        }
    }
    if (words.size() != 1) {
        std::cerr << "zelkor-cli probe: give exactly one KEYWORD\n" << kUsage;
        return 2;
    }

    std::string error;
    const std::optional<SourceRows> rows = loadSources(programDirectory(), sourcesFile, &error);
    if (!rows) {
        std::cerr << "zelkor-cli probe: " << error << "\n";
        return 2;
    }
    const int sourceCount = static_cast<int>(rows->size());
    for (int index : chosen) {
        if (index >= sourceCount) {
            std::cerr << "zelkor-cli probe: --source takes indexes 0-" << sourceCount - 1 << ", not " << index
                      << "\n";
            return 2;
        }
    }
    if (chosen.empty())
        for (int i = 0; i < sourceCount; ++i)
            chosen.push_back(i);

    std::optional<Endpoints> endpoints = endpointsFile.empty()
                                             ? Endpoints::loadDefault(programDirectory(), &error, sourceCount)
                                             : Endpoints::loadFile(endpointsFile, &error, sourceCount);
    if (!endpoints) {
        std::cerr << "zelkor-cli probe: " << error << "\n";
        return 2;
    }

    const std::string& word = words.front();
    const Text keyword = inputToGbk(word);

    for (int index : chosen) {
        const auto source = make_table_source((*rows)[static_cast<std::size_t>(index)], *endpoints);
        const SourceFetch fetched = source->fetch(keyword);
        const std::vector<Text> phrases = source->extract(fetched.body);
        const std::string answerClass(answerClassName(classifyFetch(fetched, phrases)));
        const std::string label = gbk_to_utf8(source->label());
        const std::string status = gbk_to_utf8(fetched.status);
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

} // namespace zelkor::cli
