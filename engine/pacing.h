#pragma once
// A wait that ends at its time or at once when the run is stopped.

#include <chrono>
#include <functional>
#include <stop_token>

namespace zelkor {

enum class PaceUnit { Milliseconds, Seconds, Minutes, Hours };

// Blocks for amount x unit (nothing when that is 0 or negative). Returns false when `stop` was
// requested before or during the wait.
bool PacingWait(int amount, PaceUnit unit, std::stop_token stop = {});

// How a run waits; tests put a recording wait in its place.
using WaitFunction = std::function<bool(std::chrono::milliseconds, std::stop_token)>;
bool waitFor(std::chrono::milliseconds duration, std::stop_token stop);

} // namespace zelkor
