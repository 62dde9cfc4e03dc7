#include "net/cookies.h"

#include <gtest/gtest.h>

#include <string>

namespace zelkor {
namespace {

struct MergeCase {
    std::string sent, received, expected;
};

class MergeCookieLists : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeCookieLists, Merges) {
    const MergeCase& c = GetParam();
    EXPECT_EQ(merge_cookie_lists(c.sent, c.received), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, MergeCookieLists,
                         testing::Values(
                             // Set cookies replace sent ones of the same name and come first.
                             MergeCase{"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1"},
                             // A deletion removes the sent cookie too.
                             MergeCase{"a=1; b=2", "a=deleted", "b=2"}, MergeCase{"a=deleted", "", ""},
                             MergeCase{"a=1", "", "a=1"}, MergeCase{"", "x=9", "x=9"}, MergeCase{"", "", ""},
                             // Of several sent items with one name only the first survives.
                             MergeCase{"a=1; a=2", "", "a=1"},
                             MergeCase{"a=1; b=2; a=3", "c=1", "c=1; a=1; b=2"},
                             // A trailing semicolon leaves no empty item.
                             MergeCase{"a=1;", "b=2", "b=2; a=1"}, MergeCase{"a=1", "b=2;", "b=2; a=1"},
                             MergeCase{"  a=1; ", "b=2", "b=2; a=1"},
                             // Exact duplicates collapse; same name with another value stays.
                             MergeCase{"", "b=3; b=3", "b=3"}, MergeCase{"", "b=3; b=4", "b=3; b=4"},
                             // Names compare exactly and are trimmed; a value may hold "=".
                             MergeCase{"A=1", "a=2", "a=2; A=1"}, MergeCase{"a=1", "a =2", "a =2"},
                             MergeCase{"t=x=y", "t=z", "t=z"},
                             // An item without "=" is its own name.
                             MergeCase{"flag; a=1", "flag", "flag; a=1"},
                             // "deleted" only counts as the whole value.
                             MergeCase{"a=1", "a=undeleted", "a=undeleted"},
                             MergeCase{"a=1", "a=deleted; b=2", "b=2"},
                             // A "Cookie: " prefix stays part of the first sent item and of its name.
                             MergeCase{"Cookie: a=1; b=2", "a=5", "a=5; Cookie: a=1; b=2"},
                             MergeCase{"Cookie: a=1", "Cookie: a=2", "Cookie: a=2"}));

} // namespace
} // namespace zelkor
