#pragma once

namespace zelkor::cli {

// zelkor-cli probe [--source N ...] [--json] KEYWORD; argv[0] is "probe". Returns the exit status.
int probeMain(int argc, char** argv);

} // namespace zelkor::cli
