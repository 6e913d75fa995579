// Number parsing shared by the subcommands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace uiglean {

// A decimal integer: an optional "+" or "-", then one or more ASCII digits and nothing else,
// within the signed 64-bit range.
std::optional<std::int64_t> parseInt64(std::string_view s);

// A floating-point number that is the whole text (optional sign, decimal or exponent form, inf
// and nan); nothing for any other text, blanks included.
std::optional<double> parseDouble(std::string_view s);

// The shortest decimal text that reads back as exactly `d` (finite), in the fixed form when that
// is not longer than the exponent form ("100", "0.0001", "1e+21", "1.5e-07"): what
// std::to_chars(double) writes ("inf", "nan" for those), without needing a C++ library that
// has it.
std::string shortestDecimal(double d);

}  // namespace uiglean
