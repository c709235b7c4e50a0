#include "core/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace tessarin::core {

std::string float_repr(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

  // Shortest round-trip digits, in scientific form: "-1.2345e-05".
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));

  std::string out;
  if (sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  const std::size_t e_pos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e_pos)) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = 0;
  std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+' ? 1 : 0), sci.data() + sci.size(), exponent);
  // Python: value = 0.d1d2d3... x 10**decpt; exponent notation outside -4 < decpt <= 16.
  const int decpt = exponent + 1;
  const int n = static_cast<int>(digits.size());

  if (decpt <= -4 || decpt > 16) {
    out.push_back(digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(digits, 1);
    }
    const int e = decpt - 1;
    out.push_back('e');
    out.push_back(e < 0 ? '-' : '+');
    const int ae = std::abs(e);
    if (ae < 10) out.push_back('0');
    out += std::to_string(ae);
    return out;
  }
  if (decpt <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-decpt), '0');
    out += digits;
  } else if (decpt >= n) {
    out += digits;
    out.append(static_cast<std::size_t>(decpt - n), '0');
    out += ".0";
  } else {
    out.append(digits, 0, static_cast<std::size_t>(decpt));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(decpt));
  }
  return out;
}

double numpy_round(double value, int decimals) {
  // NumPy: multiply by 10**decimals, rint (ties to even), divide.
  const double scale = std::pow(10.0, decimals);
  return std::nearbyint(value * scale) / scale;
}

std::string format_fixed(double value, int decimals) {
  // glibc's printf rounds the exact binary value correctly, ties to even,
  // like Python's float formatting.
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

double python_round(double value, int ndigits) {
  if (!std::isfinite(value)) return value;
  const std::string text = format_fixed(value, ndigits);
  double out = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), out);
  return out;
}

std::string format_int_list(std::span<const int> values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) out += ", ";
    out += std::to_string(values[i]);
  }
  out += "]";
  return out;
}

std::string format_float_list(std::span<const double> values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) out += ", ";
    out += float_repr(values[i]);
  }
  out += "]";
  return out;
}

}  // namespace tessarin::core
