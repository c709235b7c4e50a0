// SMILES of a compound by name or CID, from the PubChem PUG REST service.
#pragma once

#include <string_view>

#include "pubchem/http.h"
#include "pubchem/reply.h"

namespace tessarin::pubchem {

// Checks the lookup kind ("name" or "cid") before anything else, makes one GET
// of request_url(base, by, query) bounded by `timeout_seconds`, and reads the
// reply with parse_reply. Errors as described for those functions.
CompoundSmiles fetch_smiles(std::string_view base, std::string_view by, std::string_view query, double timeout_seconds,
                            const KeepGoing& keep_going = {});

}  // namespace tessarin::pubchem
