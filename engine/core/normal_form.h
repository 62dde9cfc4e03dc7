#pragma once
// The normal form of a phrase, for runs that merge near-duplicates: blanks trimmed and runs of
// blanks made one space, full-width ASCII made half-width, traditional Chinese made simplified.
// Any thread; the converter is shared and loaded once.

#include "engine/core/expected.h"
#include "text/text.h"

#include <string>
#include <string_view>

namespace zelkor {

// `utf8` in normal form; an Error when the traditional-to-simplified tables cannot be loaded.
Expected<std::string> normalFormUtf8(std::string_view utf8);

// The same for the engine's GBK text. A character GBK cannot hold after conversion is never made
// up: the phrase is given back as it came.
Expected<Text> normalForm(std::string_view gbkText);

// Whether normal forms can be made here (the tables load); the reason when not.
Expected<Done> normalFormsAvailable();

} // namespace zelkor
