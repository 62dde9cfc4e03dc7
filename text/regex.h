#pragma once
// One pattern bound to one GBK subject: creating the object compiles the pattern and runs it over
// the subject at once; the object then answers questions about that one run.
//
// Dialect (the script engines' one, not PCRE's): "." matches any character but LF (so it matches
// CR); with multi_line, "^" and "$" match at the ends of the subject and next to every CR and LF;
// \w \d \b are ASCII, \s also takes the Unicode spaces (the ideographic one among them); \uXXXX and
// \xXX escapes; an unknown escape of a letter stands for the letter. Matching counts characters, a
// double-byte GBK character being one. An empty match in a global run moves on by one character.

#include "text/text.h"

#include <memory>
#include <string>
#include <string_view>

namespace zelkor {

class RegexObject {
  public:
    // A copy shares the compiled pattern and the match list and holds its own copy of the subject;
    // the last of them to go frees the shared parts.

    // Replaces pattern, subject and match list. With quote_placeholder every "#引号" in the pattern
    // stands for a double quote. True when the pattern compiled (the match list may be empty);
    // false when it did not, and then every query answers "" or 0 and replace answers "".
    bool create(std::string_view pattern, std::string_view subject, bool case_sensitive = false,
                bool multi_line = true, bool global = true, bool quote_placeholder = false);

    RegexObject copy() const { return *this; }

    // What keeps `pattern` from compiling with these flags (UTF-8), or "" when it compiles.
    static std::string patternProblem(std::string_view pattern, bool case_sensitive = false,
                                      bool multi_line = true);

    // The pattern as compiled (after the placeholder); "" before a successful create.
    Text pattern() const;

    // The subject with every match (the first only when not global) replaced. In the replacement
    // "$1".."$99" insert a group, "$&" the match, "$`" and "$'" the text before and after it, and
    // "$$" one dollar sign; any other "$" is literal.
    Text replace(std::string_view replacement) const;

    int match_count() const;

    // Match i, counted from 1; "" when out of range. When position is given it receives the match's
    // 0-based byte offset into the subject (-1 when out of range).
    Text match_text(int i, int* position = nullptr) const;

    // Capture group j of match i, both counted from 1; "" when either is out of range or the group
    // took no part in the match (position -1 then).
    Text group_text(int i, int j, int* position = nullptr) const;

    // Capture groups of the first match; 0 when nothing matched.
    int group_count() const;

  private:
    struct Compiled;
    struct Run;
    std::shared_ptr<const Compiled> m_compiled;
    std::shared_ptr<const Run> m_run;
    Text m_subject;
};

} // namespace zelkor
