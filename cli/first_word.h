#pragma once
// The first word of zelkor-cli's command line: the only place a command's name counts, and where a
// mistyped one is caught before it becomes a seed.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace zelkor::cli {

// The index in argv of the first word that is neither an option of `app` nor an option's value;
// nullopt when there is none before "--" (after it, every word is a seed).
std::optional<int> firstWord(const CLI::App& app, int argc, char** argv);

// The name in `names` that `word` most likely mistypes: within two edits (insert, delete, change,
// swap two neighbours), case ignored. Only a word of Latin letters, digits, "-" and "_" is taken
// for one; keywords in other scripts never are.
std::optional<std::string> meantCommand(const std::string& word, const std::vector<std::string>& names);

} // namespace zelkor::cli
