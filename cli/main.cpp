// tessarin: the command-line program. VIF reports, batch prediction of EI
// spectra into spectral-library files, and the validation run.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include <RDGeneral/Invariant.h>

#include "batch/input.h"
#include "batch/library.h"
#include "batch/pipeline.h"
#include "batch/record.h"
#include "batch/writers.h"
#include "progress.h"
#include "validation/reference_tables.h"
#include "validation/validation_suite.h"
#include "analysis/analysis.h"

namespace {

using namespace tessarin;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // molecules failed, analysis error, validation failed
constexpr int kExitUsage = 2;       // bad arguments, unreadable input, unwritable output
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage =
    "usage: tessarin <command> [options]\n"
    "\n"
    "commands:\n"
    "  vif SMILES [--ring] [--recursive] [--max-generations N] [--bond-kappa K]\n"
    "      print the VIF report of one molecule\n"
    "  predict INPUT -o OUTPUT [--format msp|jsonl|csv] [--ring] [--recursive]\n"
    "          [--max-generations N] [--jobs N] [--timeout-per-molecule S]\n"
    "      predict EI spectra of a SMILES or SDF file ('-': standard input) into a\n"
    "      spectral library; molecules that fail go to OUTPUT.errors.tsv.\n"
    "      --jobs: threads (default: all cores); --timeout-per-molecule: seconds\n"
    "      per molecule, checked between analysis steps (default 0: no limit)\n"
    "  validate\n"
    "      run the validation suite\n"
    "\n"
    "exit status: 0 success, 1 some molecules or checks failed, 2 usage or file\n"
    "error, 130 interrupted\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Options and positional arguments of one subcommand.
struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::optional<std::string>>> options;  // in order given
};

// `with_value`: the options that take a value ("--jobs N" or "--jobs=N").
Args parse_args(int argc, char** argv, int first, const std::vector<std::string>& flags,
                const std::vector<std::string>& with_value) {
  auto known = [](const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
  };
  Args args;
  bool only_positional = false;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (only_positional || a == "-" || a.size() < 2 || a[0] != '-') {
      args.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      only_positional = true;
      continue;
    }
    std::optional<std::string> value;
    if (const auto eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
    }
    if (known(flags, a)) {
      if (value) throw UsageError("option " + a + " takes no value");
      args.options.emplace_back(a, std::nullopt);
    } else if (known(with_value, a)) {
      if (!value) {
        if (i + 1 >= argc) throw UsageError("option " + a + " needs a value");
        value = argv[++i];
      }
      args.options.emplace_back(a, value);
    } else {
      throw UsageError("unknown option " + a);
    }
  }
  return args;
}

bool has_flag(const Args& args, std::string_view name) {
  for (const auto& [key, value] : args.options)
    if (key == name) return true;
  return false;
}

std::optional<std::string> option(const Args& args, std::string_view name) {
  std::optional<std::string> last;
  for (const auto& [key, value] : args.options)
    if (key == name) last = value;
  return last;
}

long parse_int(const std::string& text, const std::string& name, long lo, long hi) {
  std::size_t used = 0;
  long v = 0;
  try {
    v = std::stol(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || v < lo || v > hi) {
    throw UsageError(name + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", got '" + text + "'");
  }
  return v;
}

double parse_number(const std::string& text, const std::string& name, double lo) {
  std::size_t used = 0;
  double v = 0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(v) || v < lo) {
    throw UsageError(name + " needs a finite number" + (lo > -1e300 ? " of at least " + std::to_string(lo) : "") +
                     ", got '" + text + "'");
  }
  return v;
}

// ---- vif -------------------------------------------------------------------

int run_vif(int argc, char** argv) {
  const Args args = parse_args(argc, argv, 2, {"--ring", "--recursive"}, {"--max-generations", "--bond-kappa"});
  if (args.positional.size() != 1) throw UsageError("vif needs exactly one SMILES");
  analysis::Options options;
  options.ring_fragmentation = has_flag(args, "--ring");
  options.recursive = has_flag(args, "--recursive");
  if (auto v = option(args, "--max-generations")) {
    options.max_generations = static_cast<int>(parse_int(*v, "--max-generations", 0, 1000));
  }
  if (auto v = option(args, "--bond-kappa")) options.bond_kappa = parse_number(*v, "--bond-kappa", -1e308);

  std::optional<analysis::Result> result = analysis::analyse_smiles(args.positional[0], options, {}, &std::cout);
  std::cout.flush();
  if (!result) {
    std::cerr << analysis::kUnreadableSmiles << '\n';
    return kExitFailed;
  }
  if (!std::cout) {
    std::cerr << "tessarin: cannot write the report to standard output\n";
    return kExitUsage;
  }
  return kExitOk;
}

// ---- validate --------------------------------------------------------------

int run_validate(int argc, char** argv) {
  const Args args = parse_args(argc, argv, 2, {}, {});
  if (!args.positional.empty()) throw UsageError("validate takes no arguments");
  const bool ok = validation::run_validation(validation::kLpiReferences, validation::kMsReferences, true, std::cout);
  std::cout.flush();
  return ok ? kExitOk : kExitFailed;
}

// ---- predict ---------------------------------------------------------------

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_sigint(int) {
  if (g_interrupted.exchange(true)) {
    // A second Ctrl-C: stop at once.
    _exit(kExitInterrupted);
  }
}

void install_sigint_handler() {
  struct sigaction sa {};
  sa.sa_handler = on_sigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
}

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// True when `a` and `b` name one existing file (so writing one would destroy the other).
bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<std::size_t> count_molecules(const std::string& path, batch::InputFormat format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  batch::MoleculeReader reader(in, format);
  batch::MoleculeInput m;
  std::size_t n = 0;
  try {
    while (reader.next(m)) ++n;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return n;
}

int run_predict(int argc, char** argv) {
  const Args args = parse_args(argc, argv, 2, {"--ring", "--recursive"},
                               {"-o", "--output", "--format", "--jobs", "-j", "--timeout-per-molecule",
                                "--max-generations"});
  if (args.positional.size() != 1) throw UsageError("predict needs exactly one INPUT (a file, or - for standard input)");
  const std::string input_path = args.positional[0];
  std::optional<std::string> output_path = option(args, "-o");
  if (auto o = option(args, "--output")) output_path = o;
  if (!output_path || output_path->empty()) throw UsageError("predict needs -o OUTPUT");
  batch::OutputFormat format = batch::OutputFormat::msp;
  if (auto f = option(args, "--format")) {
    const auto named = batch::output_format_named(*f);
    if (!named) throw UsageError("--format must be msp, jsonl or csv, got '" + *f + "'");
    format = *named;
  }
  unsigned jobs = 0;
  if (auto j = option(args, "--jobs")) jobs = static_cast<unsigned>(parse_int(*j, "--jobs", 1, 1024));
  if (auto j = option(args, "-j")) jobs = static_cast<unsigned>(parse_int(*j, "-j", 1, 1024));
  batch::PredictOptions predict;
  predict.analysis.ring_fragmentation = has_flag(args, "--ring");
  predict.analysis.recursive = has_flag(args, "--recursive");
  if (auto v = option(args, "--max-generations")) {
    predict.analysis.max_generations = static_cast<int>(parse_int(*v, "--max-generations", 0, 1000));
  }
  if (auto t = option(args, "--timeout-per-molecule")) {
    predict.time_limit_seconds = parse_number(*t, "--timeout-per-molecule", 0.0);
  }

  if (input_path != "-" && *output_path != "-" &&
      (same_file(input_path, *output_path) || same_file(input_path, batch::errors_path_of(*output_path)))) {
    std::cerr << "tessarin: the output would overwrite the input " << input_path << '\n';
    return kExitUsage;
  }

  // Input.
  std::ifstream file;
  std::istream* in = &std::cin;
  std::deque<std::string> lookahead;
  batch::InputFormat input_format = batch::InputFormat::smiles;
  if (input_path == "-") {
    input_format = batch::MoleculeReader::sniff_format(std::cin, lookahead);
  } else {
    file.open(input_path, std::ios::binary);
    if (!file) {
      std::cerr << "tessarin: cannot open " << input_path << ": " << std::strerror(errno) << '\n';
      return kExitUsage;
    }
    in = &file;
    input_format = batch::input_format_of_path(input_path);
  }
  batch::MoleculeReader reader(*in, input_format, std::move(lookahead));

  std::optional<batch::LibraryFiles> files;
  try {
    files.emplace(*output_path, format);
  } catch (const std::exception& e) {
    std::cerr << "tessarin: " << e.what() << '\n';
    return kExitUsage;
  }

  const bool show_progress = ::isatty(STDERR_FILENO) == 1;
  std::optional<std::size_t> total;
  if (show_progress && input_path != "-" && is_regular_file(input_path)) total = count_molecules(input_path, input_format);
  cli::ProgressBar bar(stderr, total);

  install_sigint_handler();
  batch::LibraryRequest request;
  request.options = predict;
  request.jobs = jobs;
  request.read = [&reader](batch::MoleculeInput& m) { return reader.next(m); };
  request.files = &*files;
  if (show_progress) request.progress = [&bar](const batch::BatchProgress& p) { bar.update(p); };
  request.cancel = &g_interrupted;

  batch::BatchSummary summary;
  try {
    summary = batch::predict_library(request);
  } catch (const std::exception& e) {
    bar.finish();
    std::cerr << "tessarin: " << e.what() << '\n';
    return kExitUsage;
  }
  bar.finish();

  const std::size_t ok = summary.written - summary.failed;
  if (summary.cancelled) {
    std::cerr << "tessarin: interrupted; " << ok << " spectra written to " << *output_path;
    if (summary.failed) std::cerr << ", " << summary.failed << " failures to " << files->errors_path();
    std::cerr << '\n';
    std::fflush(stdout);
    std::cerr.flush();
    // The reader may still be blocked reading standard input: leave at once.
    std::_Exit(kExitInterrupted);
  }
  if (summary.failed > 0) {
    std::cerr << "tessarin: " << summary.failed << " of " << summary.written << " molecules failed";
    if (!files->errors_path().empty()) std::cerr << " (see " << files->errors_path() << ")";
    std::cerr << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(true);
  if (argc < 2) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  const std::string_view command = argv[1];
  try {
    if (command == "-h" || command == "--help" || command == "help") {
      std::cout << kUsage;
      return kExitOk;
    }
    for (int i = 2; i < argc; ++i) {
      const std::string_view a = argv[i];
      if (a == "-h" || a == "--help") {
        std::cout << kUsage;
        return kExitOk;
      }
    }
    if (command == "vif") return run_vif(argc, argv);
    if (command == "predict") return run_predict(argc, argv);
    if (command == "validate") return run_validate(argc, argv);
    throw UsageError("unknown command '" + std::string(command) + "'");
  } catch (const UsageError& e) {
    std::cerr << "tessarin: " << e.what() << "\n\n" << kUsage;
    return kExitUsage;
  } catch (const Invar::Invariant& e) {
    std::cout.flush();
    std::cerr << "tessarin: RDKit rejected the input: " << e.what() << '\n';
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "tessarin: " << e.what() << '\n';
    return kExitFailed;
  }
}
