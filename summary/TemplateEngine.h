#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace perchlight {

// One argument of a placeholder's format: a text for %s or an integer for %d and %i.
using FormatArgument = std::variant<std::string, long long>;

// Widths and precisions of a format's conversions go up to this; a larger one is not a conversion.
inline constexpr int kMaxFormatWidth = 1000;

// Sets the arguments into a printf-style format of the subset %s, %d, %i and %% (flags "-+ 0#",
// width and precision as digits). A conversion outside the subset, one whose argument is missing
// or of the other kind, and a lone "%" at the end are copied as written and take no argument, so
// no format can read what the caller did not supply. Arguments left over are ignored.
std::string formatArguments(std::string_view format, std::span<const FormatArgument> arguments);

// The value of a placeholder: the key function's text for a key and its format.
using KeyFunction = std::function<std::string(std::string_view key, std::string_view format)>;

// Fills the placeholders "##Key##@format@" of a template with the key function's values. A pair of
// "##" not followed by "@" stays as written; a placeholder without its closing "@" ends the
// substitution and the rest of the template is copied unchanged. Values are not searched for
// placeholders again.
std::string fill(std::string_view text, const KeyFunction& keys);

}  // namespace perchlight
