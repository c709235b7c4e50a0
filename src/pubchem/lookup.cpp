#include "pubchem/lookup.h"

#include "pubchem/request.h"

namespace tessarin::pubchem {

CompoundSmiles fetch_smiles(std::string_view base, std::string_view by, std::string_view query, double timeout_seconds,
                            const KeepGoing& keep_going) {
  const std::string url = request_url(base, by, query);
  return parse_reply(query, http_get(url, timeout_seconds, keep_going));
}

}  // namespace tessarin::pubchem
