// Text read from files in whatever encoding they were saved in, as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tessarin::core {

// Appends `bytes` as UTF-8: well-formed UTF-8 sequences are copied, every
// other byte is taken as a Latin-1 character. Files in UTF-8, ASCII or
// Latin-1 (and mixtures of them) all read correctly this way.
void append_utf8(std::string& out, std::string_view bytes);
std::string to_utf8(std::string_view bytes);
bool is_ascii(std::string_view s);

}  // namespace tessarin::core
