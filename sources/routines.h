#pragma once
// Routines every keyword source shares.

#include "text/text.h"

#include <ctime>
#include <vector>

namespace zelkor {

// Every byte of the keyword's UTF-8 form as "%XX" (upper-case hex); letters and digits too.
Text percent_encode_utf8(const Text& keyword);

// Every text between `start` and the next `end`. The next search for `start` begins right after the
// start marker found, so an item holding the start marker also begins the next item.
std::vector<Text> text_between_all(const Text& text, const Text& start, const Text& end);

// Removes script and style blocks, every tag and every short entity; decodes nothing, trims nothing.
Text strip_html(const Text& phrase);

// Whole seconds from 1970-01-01 08:00:00 to the local wall-clock time, then "000".
Text epoch_millis_text();
// The same for a given local wall-clock time.
Text epoch_millis_text_at(const std::tm& localTime);

} // namespace zelkor
