#include "scheduler.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string_view>

#include "common.h"

namespace tessarin::cli {
namespace {

bool names_scheduler(std::string_view arg) { return arg == "--scheduler" || arg.rfind("--scheduler=", 0) == 0; }

}  // namespace

void add_scheduler_options(CLI::App& command, bool predict) {
  static std::string ignored_text;
  static std::size_t ignored_size = 0;
  command.add_option("--scheduler", ignored_text, "hand the run to the Dask scheduler at this address (host:port)")
      ->type_name("ADDRESS");
  if (!predict) return;
  command.add_option("--chunk-size", ignored_size, "molecules per task on the cluster (with --scheduler)")
      ->type_name("N")
      ->default_str("1000");
  command.add_option("--work-dir", ignored_text, "the cluster's shards and manifest (with --scheduler)")
      ->type_name("DIR")
      ->default_str("OUTPUT.shards");
}

std::optional<int> run_on_scheduler(const std::vector<std::string>& args) {
  if (args.empty() || (args.front() != "predict" && args.front() != "search")) return std::nullopt;
  bool wanted = false;
  for (std::size_t i = 1; i < args.size() && !wanted; ++i) wanted = names_scheduler(args[i]);
  if (!wanted) return std::nullopt;

  // The interpreter and package as for the plots of `identify --plot`.
  const char* chosen = std::getenv("TESSARIN_PYTHON");
  const std::string python = chosen != nullptr && *chosen != '\0' ? chosen : TESSARIN_PLOT_PYTHON;
  const char* old_path = std::getenv("PYTHONPATH");
  const std::string path = std::string(TESSARIN_PACKAGE_ROOT) +
                           (old_path != nullptr && *old_path != '\0' ? std::string(":") + old_path : std::string());
  ::setenv("PYTHONPATH", path.c_str(), 1);
  std::vector<std::string> words = {python, "-m", "tessarin.dask"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::cout.flush();
  ::execvp(python.c_str(), argv.data());
  std::cerr << "tessarin: cannot start " << python << " for --scheduler: " << std::strerror(errno) << '\n';
  return kExitUsage;
}

}  // namespace tessarin::cli
