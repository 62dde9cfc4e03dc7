#include "cli/command.h"

#include "engine/core/program_dir.h"

#include <cstdio>

namespace zelkor::cli {

std::filesystem::path SharedOptions::homeDirectory() const {
    return home.empty() ? programDirectory() : std::filesystem::path(home);
}

std::optional<SourceRows> SharedOptions::loadSources(std::string* error) const {
    return zelkor::loadSources(homeDirectory(), sourcesFile, error);
}

std::optional<Endpoints> SharedOptions::loadEndpoints(int sourceCount, std::string* error) const {
    auto loaded = endpoints.empty() ? Endpoints::loadDefault(homeDirectory(), error, sourceCount)
                                    : Endpoints::loadFile(endpoints, error, sourceCount);
    if (!loaded && error->empty()) *error = "cannot read the endpoints file";
    return loaded;
}

void addSharedOptions(CLI::App& app, SharedOptions& shared, const std::filesystem::path& presetHome) {
    app.add_option("--home", shared.home,
                   "Program directory: settings, seen store (default: $ZELKOR_HOME, else the executable's "
                   "directory: " +
                       presetHome.string() + ")")
        ->option_text("DIR");
    app.add_option(
           "--endpoints", shared.endpoints,
           "Service endpoints file (default: $ZELKOR_ENDPOINTS, else <home>/data/endpoints.ini when present)")
        ->option_text("F");
    app.add_option("--sources-file", shared.sourcesFile,
                   "Source table changes and additions in TOML, see 'zelkor-cli sources' (default: "
                   "<home>/data/sources.toml when present)")
        ->option_text("F");
}

int fail(const std::string& message) {
    std::fprintf(stderr, "zelkor-cli: %s\n", message.c_str());
    return kExitUsage;
}

} // namespace zelkor::cli
