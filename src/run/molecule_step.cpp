#include "run/molecule_step.h"

#include <RDGeneral/Invariant.h>

#include <mutex>
#include <string>
#include <string_view>

#include "run/deadline.h"
#include "run/input.h"

namespace tessarin::run {

void warm_up() {
  static std::once_flag once;
  std::call_once(once, [] { (void)analysis::analyse_smiles("OC(=O)c1ccccc1C1CC1", analysis::Options{}); });
}

void guarded_step(Outcome& o, double time_limit_seconds, const std::atomic<bool>* cancel,
                  const std::function<void(const analysis::StopCheck&)>& work) {
  try {
    const Deadline deadline(time_limit_seconds, cancel);
    if (!o.input.molblock.empty()) resolve_sdf_record(o.input);
    work([&deadline](std::string_view step) { deadline.check(step); });
  } catch (const Cancelled&) {
    o.cancelled = true;
  } catch (const Invar::Invariant& e) {
    o.error = std::string("RDKit rejected the molecule: ") + e.what();
  } catch (const std::exception& e) {
    o.error = *e.what() != '\0' ? e.what() : "unknown failure";
  }
  if (o.cancelled || !o.error.empty()) {
    o.spectrum.reset();
    o.text.clear();
  }
}

}  // namespace tessarin::run
