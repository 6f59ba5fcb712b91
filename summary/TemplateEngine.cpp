#include "summary/TemplateEngine.h"

#include <cctype>
#include <charconv>
#include <optional>

namespace perchlight {
namespace {

constexpr std::string_view kPlaceholderMark = "##";

// A parsed conversion: its flags, width and precision, and the conversion character.
struct Conversion {
    bool leftJustify = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool zeroPad = false;
    int width = 0;
    std::optional<int> precision;
    char type = '\0';
};

// Reads digits at position; nullopt when the number is larger than the bound.
std::optional<int> readNumber(std::string_view format, std::size_t& position) {
    int number = 0;
    while (position < format.size() && std::isdigit(static_cast<unsigned char>(format[position]))) {
        number = number * 10 + (format[position] - '0');
        ++position;
        if (number > kMaxFormatWidth) {
            return std::nullopt;
        }
    }
    return number;
}

// Parses the conversion after a "%" up to its conversion character; nullopt when it is cut off or
// too wide. position ends after the last character read.
std::optional<Conversion> parseConversion(std::string_view format, std::size_t& position) {
    Conversion conversion;
    for (; position < format.size(); ++position) {
        const char flag = format[position];
        if (flag == '-') {
            conversion.leftJustify = true;
        } else if (flag == '+') {
            conversion.plusSign = true;
        } else if (flag == ' ') {
            conversion.spaceSign = true;
        } else if (flag == '0') {
            conversion.zeroPad = true;
        } else if (flag != '#') {
            break;
        }
    }
    const std::optional<int> width = readNumber(format, position);
    if (!width) {
        return std::nullopt;
    }
    conversion.width = *width;
    if (position < format.size() && format[position] == '.') {
        ++position;
        conversion.precision = readNumber(format, position);
        if (!conversion.precision) {
            return std::nullopt;
        }
    }
    if (position >= format.size()) {
        return std::nullopt;
    }
    conversion.type = format[position++];
    return conversion;
}

void appendPadded(std::string& out, std::string_view body, const Conversion& conversion) {
    const std::size_t padding = body.size() < static_cast<std::size_t>(conversion.width)
                                    ? conversion.width - body.size()
                                    : 0;
    if (!conversion.leftJustify) {
        out.append(padding, ' ');
    }
    out += body;
    if (conversion.leftJustify) {
        out.append(padding, ' ');
    }
}

void appendText(std::string& out, std::string_view text, const Conversion& conversion) {
    if (conversion.precision && text.size() > static_cast<std::size_t>(*conversion.precision)) {
        text = text.substr(0, *conversion.precision);
    }
    appendPadded(out, text, conversion);
}

void appendInteger(std::string& out, long long value, const Conversion& conversion) {
    char buffer[32];
    const unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : value;
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, magnitude).ptr;
    std::string digits(buffer, end);
    if (conversion.precision) {
        if (*conversion.precision == 0 && value == 0) {
            digits.clear();
        } else if (digits.size() < static_cast<std::size_t>(*conversion.precision)) {
            digits.insert(0, *conversion.precision - digits.size(), '0');
        }
    }
    const std::string sign = value < 0              ? "-"
                             : conversion.plusSign  ? "+"
                             : conversion.spaceSign ? " "
                                                    : "";
    if (conversion.zeroPad && !conversion.leftJustify && !conversion.precision &&
        sign.size() + digits.size() < static_cast<std::size_t>(conversion.width)) {
        digits.insert(0, conversion.width - sign.size() - digits.size(), '0');
    }
    appendPadded(out, sign + digits, conversion);
}

}  // namespace

std::string formatArguments(std::string_view format, std::span<const FormatArgument> arguments) {
    std::string out;
    std::size_t next = 0;
    std::size_t position = 0;
    while (position < format.size()) {
        const std::size_t percent = format.find('%', position);
        out += format.substr(position, percent - position);
        if (percent == std::string_view::npos) {
            break;
        }
        position = percent + 1;
        if (position < format.size() && format[position] == '%') {
            out += '%';
            ++position;
            continue;
        }
        const std::optional<Conversion> conversion = parseConversion(format, position);
        const FormatArgument* argument = next < arguments.size() ? &arguments[next] : nullptr;
        if (conversion && argument && conversion->type == 's' &&
            std::holds_alternative<std::string>(*argument)) {
            appendText(out, std::get<std::string>(*argument), *conversion);
            ++next;
        } else if (conversion && argument && (conversion->type == 'd' || conversion->type == 'i') &&
                   std::holds_alternative<long long>(*argument)) {
            appendInteger(out, std::get<long long>(*argument), *conversion);
            ++next;
        } else {
            out += format.substr(percent, position - percent);
        }
    }
    return out;
}

std::string fill(std::string_view text, const KeyFunction& keys) {
    std::string out;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t open = text.find(kPlaceholderMark, position);
        if (open == std::string_view::npos) {
            break;
        }
        const std::size_t keyStart = open + kPlaceholderMark.size();
        const std::size_t close = text.find(kPlaceholderMark, keyStart);
        if (close == std::string_view::npos) {
            break;
        }
        const std::size_t afterClose = close + kPlaceholderMark.size();
        if (afterClose >= text.size() || text[afterClose] != '@') {
            out += text.substr(position, afterClose - position);
            position = afterClose;
            continue;
        }
        const std::size_t formatEnd = text.find('@', afterClose + 1);
        if (formatEnd == std::string_view::npos) {
            break;
        }
        out += text.substr(position, open - position);
        out += keys(text.substr(keyStart, close - keyStart),
                    text.substr(afterClose + 1, formatEnd - afterClose - 1));
        position = formatEnd + 1;
    }
    if (position < text.size()) {
        out += text.substr(position);
    }
    return out;
}

}  // namespace perchlight
