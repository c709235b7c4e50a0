#include "pubchem/reply.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <limits>

namespace tessarin::pubchem {
namespace {

// Members keep the order of the reply, so a record can be shown as it came.
using Json = nlohmann::ordered_json;

// nlohmann's messages read "[json.exception.parse_error.101] parse error at
// line 1, column 9: syntax error while ..."; keep what follows the position.
std::string parse_error_reason(const std::string& what) {
  const std::size_t column = what.find("column ");
  if (column != std::string::npos) {
    const std::size_t colon = what.find(": ", column);
    if (colon != std::string::npos) return what.substr(colon + 2);
  }
  const std::size_t bracket = what.find("] ");
  return bracket == std::string::npos ? what : what.substr(bracket + 2);
}

Json parse_body(const std::string& body) {
  try {
    return Json::parse(body);
  } catch (const Json::parse_error& e) {
    // e.byte counts the bytes read, the offending one included.
    const std::size_t offset = e.byte > 0 ? std::min<std::size_t>(e.byte - 1, body.size()) : 0;
    throw MalformedReply(parse_error_reason(e.what()), body, offset);
  } catch (const Json::exception& e) {  // a number beyond double range
    throw MalformedReply(parse_error_reason(e.what()), body, 0);
  }
}

[[noreturn]] void unexpected_shape(std::string_view query, const std::string& what) {
  throw InvalidInput("unexpected PubChem reply for '" + std::string(query) + "': " + what);
}

std::optional<std::int64_t> read_cid(std::string_view query, const Json& record) {
  const auto it = record.find("CID");
  if (it == record.end() || it->is_null()) return std::nullopt;
  if (it->is_number_unsigned()) {
    const auto value = it->get<std::uint64_t>();
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(value);
    }
  } else if (it->is_number_integer()) {
    return it->get<std::int64_t>();
  }
  unexpected_shape(query, "\"CID\" is not an integer: " + it->dump());
}

}  // namespace

MalformedReply::MalformedReply(std::string reason, std::string body, std::size_t offset)
    : InvalidInput("PubChem reply is not JSON (byte " + std::to_string(offset) + "): " + reason),
      reason_(std::move(reason)),
      body_(std::move(body)),
      offset_(offset) {}

SmilesNotFound::SmilesNotFound(std::string record_json)
    : InvalidInput(std::string(kSmilesMissing) + record_json), record_json_(std::move(record_json)) {}

CompoundSmiles parse_reply(std::string_view query, const HttpReply& reply) {
  const std::string q(query);
  if (reply.status != 200) {
    throw InvalidInput("PubChem '" + q + "' için sonuç döndürmedi (HTTP " + std::to_string(reply.status) + ")");
  }
  const Json doc = parse_body(reply.body);
  if (!doc.is_object()) unexpected_shape(query, "the reply is not a JSON object");

  const Json* records = nullptr;
  if (const auto table = doc.find("PropertyTable"); table != doc.end()) {
    if (!table->is_object()) unexpected_shape(query, "\"PropertyTable\" is not an object");
    if (const auto props = table->find("Properties"); props != table->end()) {
      if (!props->is_array()) unexpected_shape(query, "\"Properties\" is not an array");
      records = &*props;
    }
  }
  if (records == nullptr || records->empty()) throw InvalidInput("PubChem '" + q + "' için boş yanıt döndü");

  const Json& record = records->front();
  if (!record.is_object()) unexpected_shape(query, "the first property record is not an object");

  CompoundSmiles found;
  found.cid = read_cid(query, record);
  static constexpr std::array<const char*, 3> kSmilesKeys = {"SMILES", "IsomericSMILES", "ConnectivitySMILES"};
  for (const char* key : kSmilesKeys) {
    const auto it = record.find(key);
    if (it != record.end() && it->is_string() && !it->get_ref<const std::string&>().empty()) {
      found.smiles = it->get<std::string>();
      return found;
    }
  }
  throw SmilesNotFound(record.dump());
}

}  // namespace tessarin::pubchem
