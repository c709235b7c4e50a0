#include "pubchem/request.h"

#include "core/errors.h"

namespace tessarin::pubchem {

bool is_lookup_kind(std::string_view by) { return by == "name" || by == "cid"; }

void check_lookup_kind(std::string_view by) {
  if (!is_lookup_kind(by)) throw InvalidInput(std::string(kBadLookupKind));
}

std::string encode_path_segment(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // "." and ".." would be read as "this" and "parent" folder and move the
  // request elsewhere: write their dots encoded.
  if (text == "." || text == "..") return text.size() == 1 ? "%2E" : "%2E%2E";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
    if (unreserved) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}

std::string request_url(std::string_view base, std::string_view by, std::string_view query) {
  check_lookup_kind(by);
  std::string url(base);
  url += '/';
  url += by;
  url += '/';
  url += encode_path_segment(query);
  url += "/property/SMILES/JSON";
  return url;
}

std::string formula_search_url(std::string_view base, FormulaRoute route, std::string_view formula,
                               std::size_t max_records) {
  std::string url(base);
  url += route == FormulaRoute::fast ? "/fastformula/" : "/formula/";
  url += encode_path_segment(formula);
  url += "/property/";
  url += kSearchProperties;
  url += "/JSON?MaxRecords=";
  url += std::to_string(max_records);
  return url;
}

std::string list_key_url(std::string_view base, std::string_view key) {
  std::string url(base);
  url += "/listkey/";
  url += encode_path_segment(key);
  url += "/property/";
  url += kSearchProperties;
  url += "/JSON";
  return url;
}

}  // namespace tessarin::pubchem
