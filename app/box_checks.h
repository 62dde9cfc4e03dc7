#pragma once
// Checks of the boxes of the page 高级 as they are typed: why a value cannot be used, in Chinese,
// or an empty text. The rules are the engine's own (boxNumber, parseProxy, parseParallelRate,
// the pattern dialect, the store names), so a value that passes is one a run takes as typed, and
// an empty box always passes (it means the default).

#include <QString>
#include <functional>
#include <string_view>

namespace zelkor::app {

// `valueOf` gives the current text of another box (the length bounds are checked against each other).
QString advancedBoxProblem(std::string_view control, const QString& text,
                           const std::function<QString(std::string_view control)>& valueOf);

// The plain name a message uses for a box of the page 高级 ("重试次数", "单个请求总时限"…).
QString advancedBoxName(std::string_view control);

// A compile error of the pattern dialect (the library's English message) said in Chinese.
QString patternProblemText(const std::string& english);

} // namespace zelkor::app
