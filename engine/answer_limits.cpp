#include "engine/answer_limits.h"

#include "engine/control_names.h"

#include <optional>
#include <string>
#include <string_view>

namespace zelkor {

namespace {

// A whole number from 1 to `limit`, blanks around it allowed, else nullopt.
std::optional<int> positiveNumber(std::string_view digits, int limit) {
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t'))
        digits.remove_prefix(1);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t'))
        digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const int value = std::stoi(std::string(digits));
    return value >= 1 && value <= limit ? std::optional<int>(value) : std::nullopt;
}

} // namespace

AnswerLimits readAnswerLimits(const Controls& controls, std::vector<Text>* problems) {
    auto problem = [&](const std::string& utf8) {
        if (problems) problems->push_back(utf8_to_gbk(utf8));
    };
    AnswerLimits limits;
    if (const Text mib = controls.text(ctl::kMaxAnswerMib); !mib.empty()) {
        if (const auto n = positiveNumber(mib, kMaxAnswerMib))
            limits.max_body_bytes = static_cast<std::int64_t>(*n) << 20;
        else
            problem("应答上限应为 1 到 " + std::to_string(kMaxAnswerMib) + " 的整数（MiB），本次用默认的 " +
                    std::to_string(AnswerLimits::kDefaultMaxBytes >> 20));
    }
    if (const Text seconds = controls.text(ctl::kDeadline); !seconds.empty()) {
        if (const auto n = positiveNumber(seconds, kMaxDeadlineSeconds))
            limits.deadline_seconds = *n;
        else
            problem("总时限应为 1 到 " + std::to_string(kMaxDeadlineSeconds) + " 的整数（秒），本次用默认的 " +
                    std::to_string(AnswerLimits::kDefaultDeadlineSeconds));
    }
    return limits;
}

} // namespace zelkor
