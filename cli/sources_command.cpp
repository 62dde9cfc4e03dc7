#include "cli/sources_command.h"

#include "sources/sources_file.h"

#include <iostream>
#include <optional>
#include <string>

namespace zelkor::cli {

namespace {

constexpr const char* kUsage =
    "usage: zelkor-cli sources [--sources-file F]\n"
    "Prints the source table as TOML, one [[source]] table per row. Copy a row into\n"
    "<home>/data/sources.toml (or a file given with --sources-file), keep its index and change the\n"
    "keys that need it; rows with the indexes that follow the last add sources.\n"
    "  --sources-file F  print the table with F applied, after checking it\n";

} // namespace

int sourcesMain(int argc, char** argv) {
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--sources-file" && i + 1 < argc) {
            file = argv[++i];
        } else if (arg.starts_with("--sources-file=") && arg.size() > 15) {
            file = arg.substr(15);
        } else {
            std::cerr << "zelkor-cli sources: unexpected argument " << arg << "\n" << kUsage;
            return 2;
        }
    }
    SourceRows rows = builtInSourceRows();
    if (!file.empty()) {
        std::string error;
        std::optional<SourceRows> applied = loadSourcesFile(file, &error);
        if (!applied) {
            std::cerr << "zelkor-cli sources: " << error << "\n";
            return 2;
        }
        rows = std::move(*applied);
    }
    std::cout << sourcesToml(rows);
    std::cout.flush();
    return std::cout ? 0 : 1;
}

} // namespace zelkor::cli
