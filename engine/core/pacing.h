#pragma once
// A wait that ends at its time or at once when the run is stopped.

#include <chrono>
#include <functional>
#include <stop_token>

namespace zelkor {

// How a run waits; tests put a recording wait in its place.
using WaitFunction = std::function<bool(std::chrono::milliseconds, std::stop_token)>;
bool waitFor(std::chrono::milliseconds duration, std::stop_token stop);

} // namespace zelkor
