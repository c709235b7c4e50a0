#include "worker_command.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "run/worker_main.h"

namespace tessarin::bindings {

run::WorkerCommand worker_command() {
  static const std::string program = [] {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&worker_command), &info) == 0 || info.dli_fname == nullptr)
      return std::string();
    return (std::filesystem::path(info.dli_fname).parent_path() / "tessarin-worker").string();
  }();
  if (program.empty() || ::access(program.c_str(), X_OK) != 0) {
    throw std::runtime_error("the package's worker program " +
                             (program.empty() ? std::string("tessarin-worker") : program) +
                             " is missing; build the package again (bash scripts/setup.sh)");
  }
  return run::WorkerCommand{program, {std::string(run::kWorkerArgument)}};
}

}  // namespace tessarin::bindings
