#pragma once
// Seed variants: a seed followed by each letter or digit, or set into question frames, reaches
// phrases the plain seed never shows. Each seed's variants are asked right after it, before the
// queue, with the seed as their main word.

#include "text/text.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// A frame holds "{}" where the seed goes; a frame without it follows the seed.
using SeedFrames = std::vector<Text>;

// The built-in question frames (GBK).
const SeedFrames& questionFrames();

// "az", "digits", "questions" or "frames" (the frames the user gave) as a comma list, in the
// order asked. nullopt and *error (UTF-8) for an unknown word.
std::optional<std::vector<std::string>> parseVariantList(std::string_view list, std::string* error);

// One frame per line, UTF-8 or GBK; empty lines are left out. nullopt and *error (UTF-8) when
// the file cannot be read.
std::optional<Text> readFramesFile(const std::filesystem::path& file, std::string* error);

// The seed set into `frame`.
Text applyFrame(const Text& frame, const Text& seed);

// Every variant of `seed`, kinds in the order given; `frames` holds the user's frames, one a line
// (CR LF or LF). A variant equal to the seed or to an earlier one is left out.
std::vector<Text> seedVariants(const Text& seed, const std::vector<std::string>& kinds, const Text& frames);

} // namespace zelkor
