#pragma once
// The one reader of numbers on zelkor-cli's command line. The engine reads its boxes in decimal,
// so a number is written in decimal only: digits, a leading "-" where the range goes below 0, and
// for an option that takes fractions one ".". "0x10", "1e3", " 5", "+5" and anything outside the
// option's range are refused, in an error that names the option, the value and the range; the
// range also shows in --help.
//
//     numberOption(app.add_option("--retries", v.retries, "..."), "N", wholeRange(0, 100));
//
// The option may be bound to a string (passed on as the box's text), an int or a double.

#include <CLI/CLI.hpp>

#include <climits>
#include <optional>
#include <string>
#include <string_view>

namespace zelkor::cli {

struct NumberRange {
    double low = 0;
    double high = INT_MAX; // INT_MAX: no bound but an int's, shown as ">= low"
    bool whole = true;     // false: fractions allowed

    // As --help shows it: "0-100", "0.01-1000", ">= 0".
    std::string shown() const;
    // As an error says it: "a whole number from 0 to 100", "a whole number of 0 or more".
    std::string described() const;
};

inline NumberRange wholeRange(int low, int high = INT_MAX) {
    return {static_cast<double>(low), static_cast<double>(high), true};
}
inline NumberRange decimalRange(double low, double high) {
    return {low, high, false};
}

// The value `text` is written for, or nullopt when it is not written as above or lies outside `range`.
std::optional<double> readNumber(std::string_view text, const NumberRange& range);

// Why `text` is refused ("'0.5' is not a whole number from 0 to 86400"); empty when readNumber takes it.
std::string numberProblem(std::string_view text, const NumberRange& range);

// Makes `option` take one number of `range`, shown in --help as "<metavar> <range>".
CLI::Option* numberOption(CLI::Option* option, const std::string& metavar, const NumberRange& range);

} // namespace zelkor::cli
