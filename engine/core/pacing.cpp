#include "engine/core/pacing.h"

#include <condition_variable>
#include <mutex>

namespace zelkor {

bool waitFor(std::chrono::milliseconds duration, std::stop_token stop) {
    if (stop.stop_requested()) return false;
    if (duration.count() <= 0) return true;
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    // Only a stop request ends the wait early; the predicate never holds otherwise.
    wake.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

} // namespace zelkor
