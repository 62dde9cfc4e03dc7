#pragma once

#include "text/text.h"

namespace zelkor {

// Cookies set by a response replace sent ones of the same name, "=deleted" items vanish, exact
// duplicates collapse. Received items come first, then the sent ones the response did not set.
Text merge_cookie_lists(std::string_view sent, std::string_view received);

} // namespace zelkor
