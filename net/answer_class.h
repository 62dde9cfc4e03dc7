#pragma once
// What one answer of a keyword service came to. The run retries, cools down and reports by it;
// `probe` prints it.

#include "text/text.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace zelkor {

enum class AnswerClass {
    Ok,      // phrases came back
    Empty,   // a good answer without any phrase
    Failed,  // no answer, an answer cut short, or the service's own error
    Blocked, // the service refuses us: 403, 429, 503, or a detour to a verification page
};

struct AnswerFacts {
    bool transportFailed = false; // the exchange failed or the body was cut short
    int httpCode = 0;             // status code of the final response; 0 when none arrived
    std::vector<Text> locations;  // every Location met: the redirects followed, then the final one
    std::size_t phrases = 0;      // non-empty phrases the source took out of the answer
};

AnswerClass classifyAnswer(const AnswerFacts& facts);

// True when the path or the query of a Location value (absolute or relative) holds "captcha" or
// "verify", in any case; the host does not count.
bool isVerificationLocation(std::string_view location);

// "ok", "empty", "failed", "blocked".
std::string_view answerClassName(AnswerClass answerClass);

} // namespace zelkor
