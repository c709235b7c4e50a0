// Reading the PUG REST reply of a SMILES lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "pubchem/http.h"

namespace tessarin::pubchem {

// Start of the message raised when the first record holds no usable SMILES.
inline constexpr std::string_view kSmilesMissing = "PubChem yanıtında SMILES bulunamadı: ";

// What a lookup yields: the SMILES and, when the record has one, the CID.
struct CompoundSmiles {
  std::string smiles;
  std::optional<std::int64_t> cid;
};

// A body with status 200 that is not JSON. `offset()` is the 0-based byte
// offset in `body()` where reading failed; `reason()` says what was wrong.
class MalformedReply : public InvalidInput {
 public:
  MalformedReply(std::string reason, std::string body, std::size_t offset);
  const std::string& reason() const { return reason_; }
  const std::string& body() const { return body_; }
  std::size_t offset() const { return offset_; }

 private:
  std::string reason_;
  std::string body_;
  std::size_t offset_;
};

// The first record has none of "SMILES", "IsomericSMILES", "ConnectivitySMILES"
// as a non-empty string. `record_json()` is that record as compact JSON with its
// members in the order of the reply; the message is kSmilesMissing followed
// by that JSON text.
class SmilesNotFound : public InvalidInput {
 public:
  explicit SmilesNotFound(std::string record_json);
  const std::string& record_json() const { return record_json_; }

 private:
  std::string record_json_;
};

// The compound in `reply`, the reply to a lookup of `query` (used in messages
// as given). Throws InvalidInput with
//   "PubChem '<query>' için sonuç döndürmedi (HTTP <status>)" unless status is 200,
//   "PubChem '<query>' için boş yanıt döndü" when "PropertyTable" / "Properties"
//     is missing or empty,
// MalformedReply for a body that is not JSON, SmilesNotFound as above, and
// InvalidInput for members of the wrong JSON type (a reply that is not an
// object, "Properties" that is not an array, a record that is not an object,
// a "CID" that is not an integer). Only the first record is read. SMILES
// members that are not strings count as absent; a null "CID" counts as none.
CompoundSmiles parse_reply(std::string_view query, const HttpReply& reply);

// One compound of a search reply. A record without a SMILES has it empty.
struct PropertyRecord {
  std::optional<std::int64_t> cid;
  std::string smiles;   // "SMILES", else "IsomericSMILES", "CanonicalSMILES", "ConnectivitySMILES"
  std::string formula;  // "MolecularFormula"
  std::string title;    // "Title", the compound's name
};

// What the service said to a search (or to the poll of its list key).
struct SearchReply {
  enum class Kind {
    records,    // the property table: `records` (possibly none)
    waiting,    // still running: poll `list_key`
    not_found,  // a PUGREST.NotFound fault: no compound matches
    busy,       // HTTP 503, 504 or 429: the service is overloaded or throttling; ask again later
  };
  Kind kind = Kind::records;
  std::vector<PropertyRecord> records;
  std::string list_key;
  std::string message;  // the fault's or the waiting reply's message, for errors
};

// A fault the service answered with (bad request, server error, ...), other
// than "not found" and the overloaded states. The message reads
// "PubChem: <code> (HTTP <status>): <message>".
class ServiceFault : public InvalidInput {
 public:
  ServiceFault(long status, std::string code, const std::string& message);
  long status() const { return status_; }
  const std::string& code() const { return code_; }

 private:
  long status_;
  std::string code_;
};

// Reads the reply to a search. "Waiting" replies (HTTP 200 or 202) give the
// list key; a 404 with the fault code PUGREST.NotFound gives no compound;
// HTTP 503, 504 and 429 are `busy` whatever the body. Throws ServiceFault for
// any other fault or status but 200, MalformedReply for a 200 body that is not
// JSON, InvalidInput for a reply of the wrong shape (what `query`, the search
// in words, names). At most `max_records` records are read.
SearchReply read_search_reply(std::string_view query, const HttpReply& reply, std::size_t max_records);

}  // namespace tessarin::pubchem
