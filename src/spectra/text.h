// Text helpers shared by the spectrum readers and writers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_encoding.h"

namespace tessarin::spectra::text {

using core::append_utf8;
using core::is_ascii;
using core::to_utf8;

std::string_view trim(std::string_view s);
bool is_blank(std::string_view s);
std::string lower(std::string_view s);
bool iequals(std::string_view a, std::string_view b);
bool istarts_with(std::string_view s, std::string_view prefix);

// A field name reduced for matching: lower case, without blanks, '_' and '-'
// ("Num Peaks", "NUM_PEAKS" and "numpeaks" are all "numpeaks").
std::string field_key(std::string_view name);

// A finite number in decimal or exponent notation, with an optional sign;
// nothing for any other text (including "nan", "inf" and numbers out of the
// double range).
std::optional<double> parse_number(std::string_view s);

// The shortest text that reads back as the same double; integral values
// below 1e15 without a decimal point ("122", "0.25", "1e-07").
std::string number_text(double value);

// `s` split at `separator`, each part trimmed, empty parts dropped.
std::vector<std::string> split_trimmed(std::string_view s, char separator);

// Joins with `separator` between the parts.
std::string join(const std::vector<std::string>& parts, std::string_view separator);

}  // namespace tessarin::spectra::text
