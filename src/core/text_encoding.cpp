#include "core/text_encoding.h"

namespace tessarin::core {
namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  const auto cont = [&](std::size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(i + 1) || !cont(i + 2)) return 0;
    const unsigned char c1 = byte(i + 1);
    if (c == 0xE0 && c1 < 0xA0) return 0;   // overlong
    if (c == 0xED && c1 >= 0xA0) return 0;  // surrogates
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
    const unsigned char c1 = byte(i + 1);
    if (c == 0xF0 && c1 < 0x90) return 0;   // overlong
    if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

bool is_ascii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void append_utf8(std::string& out, std::string_view bytes) {
  if (is_ascii(bytes)) {
    out.append(bytes);
    return;
  }
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t n = utf8_sequence(bytes, i);
    if (n > 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      ++i;
    }
  }
}

std::string to_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  append_utf8(out, bytes);
  return out;
}

}  // namespace tessarin::core
