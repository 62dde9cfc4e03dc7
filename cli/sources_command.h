#pragma once

namespace zelkor::cli {

// zelkor-cli sources [--sources-file F]; argv[0] is "sources". Prints the source table as TOML:
// the built-in rows, or those with F applied. Returns the exit status.
int sourcesMain(int argc, char** argv);

} // namespace zelkor::cli
