#include "net/answer_class.h"

#include <algorithm>
#include <cctype>

namespace zelkor {

namespace {

bool containsFolded(std::string_view text, std::string_view lowerWord) {
    auto folded = [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; };
    return std::search(text.begin(), text.end(), lowerWord.begin(), lowerWord.end(), folded) != text.end();
}

} // namespace

bool isVerificationLocation(std::string_view location) {
    std::string_view rest = location;
    // Leave out scheme and authority: a host named "verify" is not a verification page.
    const std::size_t scheme = rest.find("://");
    const std::size_t firstSeparator = rest.find_first_of("/?#");
    if (scheme != std::string_view::npos && scheme < firstSeparator) {
        rest.remove_prefix(scheme + 3);
        rest.remove_prefix(std::min(rest.find_first_of("/?#"), rest.size()));
    } else if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        rest.remove_prefix(std::min(rest.find_first_of("/?#"), rest.size()));
    }
    rest = rest.substr(0, rest.find('#'));
    return containsFolded(rest, "captcha") || containsFolded(rest, "verify");
}

AnswerClass classifyAnswer(const AnswerFacts& facts) {
    const int code = facts.httpCode;
    if (code == 403 || code == 429 || code == 503) return AnswerClass::Blocked;
    for (const Text& location : facts.locations)
        if (isVerificationLocation(location)) return AnswerClass::Blocked;
    // Only a 2xx or 3xx answer is a good answer; any other status is the service's failure.
    if (facts.transportFailed || code < 200 || code >= 400) return AnswerClass::Failed;
    return facts.phrases > 0 ? AnswerClass::Ok : AnswerClass::Empty;
}

std::string_view answerClassName(AnswerClass answerClass) {
    switch (answerClass) {
    case AnswerClass::Ok:
        return "ok";
    case AnswerClass::Empty:
        return "empty";
    case AnswerClass::Failed:
        return "failed";
    case AnswerClass::Blocked:
        return "blocked";
    }
    return "failed";
}

} // namespace zelkor
