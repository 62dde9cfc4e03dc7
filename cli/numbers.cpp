#include "cli/numbers.h"

#include <charconv>
#include <cmath>

namespace zelkor::cli {
namespace {

std::string numberText(double value) {
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::to_string(value);
}

bool open(const NumberRange& range) {
    return range.high >= INT_MAX;
}

} // namespace

std::string NumberRange::shown() const {
    return open(*this) ? ">= " + numberText(low) : numberText(low) + "-" + numberText(high);
}

std::string NumberRange::described() const {
    const std::string kind = whole ? "a whole number" : "a number";
    return open(*this) ? kind + " of " + numberText(low) + " or more"
                       : kind + " from " + numberText(low) + " to " + numberText(high);
}

std::optional<double> readNumber(std::string_view text, const NumberRange& range) {
    std::string_view digits = text;
    if (range.low < 0 && digits.starts_with('-')) digits.remove_prefix(1);
    const auto point = digits.find('.');
    if (point != std::string_view::npos && range.whole) return std::nullopt;
    bool anyDigit = false;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i == point) continue;
        if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
        anyDigit = true;
    }
    // Beyond this a number is no longer exact, and no option reaches it.
    if (!anyDigit || digits.size() > 15) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    if (value < range.low || value > range.high) return std::nullopt;
    return value;
}

std::string numberProblem(std::string_view text, const NumberRange& range) {
    if (readNumber(text, range)) return {};
    return "'" + std::string(text) + "' is not " + range.described();
}

CLI::Option* numberOption(CLI::Option* option, const std::string& metavar, const NumberRange& range) {
    option->check(CLI::Validator([range](std::string& input) { return numberProblem(input, range); }, ""));
    option->type_name(metavar);
    option->option_text(metavar + " " + range.shown());
    return option;
}

} // namespace zelkor::cli
