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

ServiceFault::ServiceFault(long status, std::string code, const std::string& message)
    : InvalidInput("PubChem: " + (code.empty() ? std::string("error") : code) + " (HTTP " + std::to_string(status) +
                   ")" + (message.empty() ? std::string() : ": " + message)),
      status_(status),
      code_(std::move(code)) {}

namespace {

std::string string_member(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// "Message" and the "Details" lines of a fault, joined.
std::string fault_message(const Json& fault) {
  std::string message = string_member(fault, "Message");
  if (const auto details = fault.find("Details"); details != fault.end() && details->is_array()) {
    for (const Json& line : *details) {
      if (!line.is_string()) continue;
      if (!message.empty()) message += "; ";
      message += line.get<std::string>();
    }
  }
  return message;
}

bool busy_status(long status) { return status == 503 || status == 504 || status == 429; }

}  // namespace

SearchReply read_search_reply(std::string_view query, const HttpReply& reply, std::size_t max_records) {
  SearchReply out;
  Json doc;
  try {
    doc = parse_body(reply.body);
  } catch (const MalformedReply&) {
    if (busy_status(reply.status)) {
      out.kind = SearchReply::Kind::busy;
      out.message = "HTTP " + std::to_string(reply.status);
      return out;
    }
    if (reply.status == 200) throw;
    throw ServiceFault(reply.status, "", "the reply is not JSON");
  }
  if (!doc.is_object()) unexpected_shape(query, "the reply is not a JSON object");

  if (const auto fault = doc.find("Fault"); fault != doc.end() && fault->is_object()) {
    const std::string code = string_member(*fault, "Code");
    out.message = fault_message(*fault);
    if (code == "PUGREST.NotFound") {
      out.kind = SearchReply::Kind::not_found;
      return out;
    }
    if (code == "PUGREST.ServerBusy" || busy_status(reply.status)) {
      out.kind = SearchReply::Kind::busy;
      return out;
    }
    throw ServiceFault(reply.status, code, out.message);
  }
  if (busy_status(reply.status)) {
    out.kind = SearchReply::Kind::busy;
    out.message = "HTTP " + std::to_string(reply.status);
    return out;
  }
  if (const auto waiting = doc.find("Waiting"); waiting != doc.end() && (reply.status == 200 || reply.status == 202)) {
    if (!waiting->is_object()) unexpected_shape(query, "\"Waiting\" is not an object");
    const auto key = waiting->find("ListKey");
    if (key != waiting->end() && key->is_string() && !key->get_ref<const std::string&>().empty()) {
      out.list_key = key->get<std::string>();
    } else if (key != waiting->end() && key->is_number_unsigned()) {
      out.list_key = std::to_string(key->get<std::uint64_t>());
    } else {
      unexpected_shape(query, "\"Waiting\" holds no \"ListKey\"");
    }
    out.kind = SearchReply::Kind::waiting;
    out.message = string_member(*waiting, "Message");
    return out;
  }
  if (reply.status != 200) throw ServiceFault(reply.status, "", "unexpected reply");

  const auto table = doc.find("PropertyTable");
  if (table == doc.end() || !table->is_object()) unexpected_shape(query, "no \"PropertyTable\" object");
  const auto props = table->find("Properties");
  if (props == table->end()) return out;
  if (!props->is_array()) unexpected_shape(query, "\"Properties\" is not an array");
  static constexpr std::array<const char*, 4> kSmilesKeys = {"SMILES", "IsomericSMILES", "CanonicalSMILES",
                                                             "ConnectivitySMILES"};
  for (const Json& record : *props) {
    if (out.records.size() >= max_records) break;
    if (!record.is_object()) unexpected_shape(query, "a property record is not an object");
    PropertyRecord r;
    r.cid = read_cid(query, record);
    for (const char* key : kSmilesKeys) {
      r.smiles = string_member(record, key);
      if (!r.smiles.empty()) break;
    }
    r.formula = string_member(record, "MolecularFormula");
    r.title = string_member(record, "Title");
    out.records.push_back(std::move(r));
  }
  return out;
}

}  // namespace tessarin::pubchem
