#include "engine/run/answer_limits.h"

#include "engine/core/control_names.h"
#include "engine/core/text_rules.h"

#include <optional>
#include <string>
#include <string_view>

namespace zelkor {

AnswerLimits readAnswerLimits(const Controls& controls, std::vector<Text>* problems) {
    auto problem = [&](const std::string& utf8) {
        if (problems) problems->push_back(utf8_to_gbk(utf8));
    };
    AnswerLimits limits;
    if (const Text mib = controls.text(ctl::kMaxAnswerMib); !mib.empty()) {
        if (const auto n = boxNumber(mib, 1, kMaxAnswerMib))
            limits.maxBodyBytes = static_cast<std::int64_t>(*n) << 20;
        else
            problem("应答上限应为 1 到 " + std::to_string(kMaxAnswerMib) + " 的整数（MiB），本次用默认的 " +
                    std::to_string(AnswerLimits::kDefaultMaxBytes >> 20));
    }
    if (const Text seconds = controls.text(ctl::kDeadline); !seconds.empty()) {
        if (const auto n = boxNumber(seconds, 1, kMaxDeadlineSeconds))
            limits.totalSeconds = *n;
        else
            problem("总时限应为 1 到 " + std::to_string(kMaxDeadlineSeconds) + " 的整数（秒），本次用默认的 " +
                    std::to_string(AnswerLimits::kDefaultDeadlineSeconds));
    }
    limits.verifyTls = controls.checked(ctl::kVerifyTls);
    return limits;
}

} // namespace zelkor
