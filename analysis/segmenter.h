#pragma once
// Chinese word segmentation (mmseg, through libfriso) for root words and intent tags. The
// dictionary loads once per process, on the first open(), and is read-only after that; a
// Segmenter is one thread's, since it carries the position in the text being cut.

#include "engine/core/expected.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

class Segmenter {
  public:
    // `extraWords` join the dictionary the first time it loads (later calls cannot change it):
    // modifiers that must stay whole, such as 多少钱, which the plain dictionary splits.
    static Expected<Segmenter> open(const std::vector<std::string>& extraWords = {});

    Segmenter(Segmenter&&) noexcept;
    Segmenter& operator=(Segmenter&&) noexcept;
    ~Segmenter();

    // The words of `utf8` in order; blanks and punctuation are not words. Latin letters are
    // lower-cased so that "iPhone" and "iphone" count as one.
    std::vector<std::string> words(std::string_view utf8);

  private:
    struct Task;
    explicit Segmenter(std::unique_ptr<Task> task);
    std::unique_ptr<Task> m_task;
};

} // namespace zelkor
