#pragma once
// Turning zelkor-cli's options into control values. Failures are messages (UTF-8), never exits.

#include "sources/source_table.h"
#include "text/text.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::cli {

// "all", "domestic" (all but the foreign sources) or a comma list of indexes below `count`, as
// indexes in the order given; nullopt when malformed.
std::optional<std::vector<int>> parseSourceList(std::string_view list, int count = kSourceCount);

// UTF-8 text as GBK; bytes that are not valid UTF-8 are taken as GBK already.
Text inputToGbk(std::string_view bytes);
// UTF-8 with characters GBK cannot hold: its GBK form would carry "?" the user never typed.
bool losesCharacters(std::string_view bytes);
// Lines (CR LF apart) as inputToGbk gives them, those that would lose characters left out and
// put into *dropped as given.
Text withoutLossyLines(std::string_view bytes, std::vector<std::string>* dropped);

// Seeds and forbidden words are typed lists; a file past this is not one (or never ends: /dev/zero).
constexpr std::size_t kMaxLinesFileBytes = 16 << 20;

// A file's lines joined by CR LF (empty lines kept, a final line break ends the last line). A file
// longer than kMaxLinesFileBytes, or holding a NUL byte (named with its line), is refused.
// With `lossy`, lines that would lose characters are left out and named there.
std::optional<Text> readLinesFile(const std::filesystem::path& file, std::string* error,
                                  std::vector<std::string>* lossy = nullptr);

// Makes `directory` and its parents when missing. False with *error (UTF-8) saying why when it
// cannot be made, is no directory, or cannot be written into. "" is the working directory.
bool ensureOutputDirectory(const std::filesystem::path& directory, std::string* error);

// Panel text (GBK, CR LF) as terminal text (UTF-8, LF).
std::string panelToTerminal(const Text& text);

} // namespace zelkor::cli
