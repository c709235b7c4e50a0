// The PUG REST request of one SMILES lookup.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessarin::pubchem {

// PubChem's PUG REST compound endpoint, the base of every request.
inline constexpr std::string_view kDefaultBase = "https://pubchem.ncbi.nlm.nih.gov/rest/pug/compound";

// Message of the error raised for a lookup kind other than "name" or "cid".
inline constexpr std::string_view kBadLookupKind = "by parametresi 'name' veya 'cid' olmalı";

// True for the two lookup kinds the service is asked with: "name" and "cid"
// (exact, case-sensitive).
bool is_lookup_kind(std::string_view by);

// Throws InvalidInput with kBadLookupKind unless is_lookup_kind(by).
void check_lookup_kind(std::string_view by);

// `text` as one URL path segment: every byte except the unreserved characters
// A-Z a-z 0-9 - . _ ~ becomes %XX (upper-case hex), so "/", "?", "#", "%" and
// blanks inside a compound name stay inside the segment. Non-ASCII names are
// encoded from their UTF-8 bytes. The segments "." and ".." are written as
// "%2E" and "%2E%2E", so they cannot climb the path either.
std::string encode_path_segment(std::string_view text);

// base + "/" + by + "/" + encoded query + "/property/SMILES/JSON". The base is
// used as given. Checks the lookup kind first.
std::string request_url(std::string_view base, std::string_view by, std::string_view query);

// The properties a search by formula asks for, as the request writes them.
inline constexpr std::string_view kSearchProperties = "MolecularFormula,IsomericSMILES,Title";

// The two ways to search by molecular formula: "fastformula" answers at once;
// "formula" answers with a list key to poll until the search is done.
enum class FormulaRoute { fast, list_key };

// base + "/fastformula/" (or "/formula/") + encoded formula + "/property/" +
// kSearchProperties + "/JSON?MaxRecords=" + max_records.
std::string formula_search_url(std::string_view base, FormulaRoute route, std::string_view formula,
                               std::size_t max_records);

// base + "/listkey/" + encoded key + "/property/" + kSearchProperties + "/JSON": the
// poll of a search that answered with a list key.
std::string list_key_url(std::string_view base, std::string_view key);

}  // namespace tessarin::pubchem
