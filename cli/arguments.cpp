#include "arguments.h"

#include <cmath>
#include <sstream>

#include "tessarin/version.h"

namespace tessarin::cli {
namespace {

// Help in the style of the usage line: "-j,--jobs N   worker threads [default: all cores]".
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() {
    label("Usage", "usage");
    label("Positionals", "arguments");
    label("SUBCOMMAND", "COMMAND");
    column_width(32);
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    // Positionals show their name alone, flags nothing; the others the name of their value.
    if (!option->nonpositional() || option->get_type_size() == 0) return {};
    return " " + option->get_type_name();
  }

  std::string make_option_desc(const CLI::Option* option) const override {
    std::string text = option->get_description();
    if (!option->nonpositional()) return text;
    if (option->get_required()) return text + " (required)";
    if (!option->get_default_str().empty()) text += " [default: " + option->get_default_str() + "]";
    return text;
  }
};

const std::shared_ptr<HelpFormatter>& help_formatter() {
  static const auto formatter = std::make_shared<HelpFormatter>();
  return formatter;
}

std::string number_text(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

std::unique_ptr<CLI::App> make_program() {
  auto program = std::make_unique<CLI::App>("VIF reports and predicted EI spectra of molecules.", "tessarin");
  program->formatter(help_formatter());
  // Every option of every subcommand: listed under "options", the last of repeated values wins.
  program->option_defaults()->group("options")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  program->set_help_flag("-h,--help", "print this help and exit");
  program->set_version_flag("--version", std::string("tessarin ") + kVersion, "print the version and exit");
  program->require_subcommand(1);
  program->footer(
      "Run 'tessarin COMMAND --help' for the options of a command.\n"
      "exit status: 0 success, 1 some molecules or checks failed, 2 usage or file error, 128 + signal stopped\n"
      "(130 Ctrl-C, 143 SIGTERM, 129 SIGHUP)");
  return program;
}

CLI::App* add_command(CLI::App& program, const std::string& name, const std::string& description) {
  CLI::App* command = program.add_subcommand(name, description);
  command->group("commands");
  // Again, now that the option defaults put it under "options" too.
  command->set_help_flag("-h,--help", "print this help and exit");
  return command;
}

CLI::Validator whole_number(long lowest, long highest) {
  return CLI::Validator(
      [lowest, highest](std::string& text) -> std::string {
        std::size_t used = 0;
        long value = 0;
        try {
          value = std::stol(text, &used);
        } catch (const std::exception&) {
          used = 0;
        }
        if (used == 0 || used != text.size() || value < lowest || value > highest) {
          return "needs a whole number from " + std::to_string(lowest) + " to " + std::to_string(highest) + ", got '" +
                 text + "'";
        }
        return {};
      },
      "", "whole number");
}

CLI::Validator finite_number(double lowest) {
  return CLI::Validator(
      [lowest](std::string& text) -> std::string {
        std::size_t used = 0;
        double value = 0;
        try {
          value = std::stod(text, &used);
        } catch (const std::exception&) {
          used = 0;
        }
        if (used == 0 || used != text.size() || !std::isfinite(value) || value < lowest) {
          const bool bounded = lowest > std::numeric_limits<double>::lowest();
          return "needs a finite number" + (bounded ? " of at least " + number_text(lowest) : std::string()) +
                 ", got '" + text + "'";
        }
        return {};
      },
      "", "finite number");
}

CLI::Validator not_empty() {
  return CLI::Validator(
      [](std::string& text) -> std::string { return text.empty() ? "needs a value, got ''" : std::string(); }, "",
      "not empty");
}

void add_prediction_options(CLI::App& command, analysis::Options& options) {
  command.add_flag("--ring", options.ring_fragmentation, "also cut pairs of soft ring bonds");
  command.add_flag("--recursive", options.recursive,
                   "also cut the fragments again, generation by generation, and add their peaks");
  command
      .add_option("--max-generations", options.max_generations, "generations of the recursive cuts (with --recursive)")
      ->type_name("N")
      ->check(whole_number(0, 1000))
      ->capture_default_str();
}

void add_jobs_option(CLI::App& command, unsigned& jobs, const std::string& what) {
  command.add_option("-j,--jobs", jobs, what)->type_name("N")->check(whole_number(1, 1024))->default_str("all cores");
}

void add_time_limit_option(CLI::App& command, double& seconds, const std::string& help) {
  command.add_option("--timeout-per-molecule", seconds, help)
      ->type_name("S")
      ->check(finite_number(0.0))
      ->capture_default_str();
}

void add_spectrum_options(CLI::App& command, SpectrumChoice& choice) {
  command.add_option("SPECTRUM", choice.path, "measured spectrum file (MSP, MassBank, JCAMP-DX, MGF, JSON Lines)")
      ->required();
  command.add_option("--record", choice.record, "which spectrum of the file (1: the first)")
      ->type_name("N")
      ->check(whole_number(1, 1'000'000'000))
      ->capture_default_str();
}

void add_full_range_option(CLI::App& command, bool& full_range) {
  command.add_flag("--full-range", full_range,
                   "score the predicted peaks outside the measured m/z range too (see below)");
}

void add_model_option(CLI::App& command, prediction::Model& model) {
  command
      .add_option_function<std::string>(
          "--model", [&model](const std::string& name) { model = *prediction::model_named(name); },
          "spectrum model: schematic (fixed sticks) or ei (predicted EI intensities with isotope clusters)")
      ->type_name("NAME")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return prediction::model_named(text) ? std::string()
                                                 : "must name a spectrum model (schematic or ei), got '" + text + "'";
          },
          "", "model name"))
      ->default_str(prediction::model_name(model));
}

void add_model_options(CLI::App& command, prediction::PredictionOptions& options) {
  add_model_option(command, options.model);
  add_prediction_options(command, options.analysis);
}

void add_score_options(CLI::App& command, spectra::SimilarityOptions& options) {
  command
      .add_option_function<std::string>(
          "--method", [&options](const std::string& name) { options.method = *spectra::method_named(name); },
          "score: cosine, dot_product or composite")
      ->type_name("NAME")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return spectra::method_named(text) ? std::string()
                                               : "must be cosine, dot_product or composite, got '" + text + "'";
          },
          "", "score name"))
      ->default_str(std::string(spectra::method_name(options.method)));
  command.add_option("--tolerance", options.tolerance, "m/z distance within which peaks match")
      ->type_name("MZ")
      ->check(finite_number(0.0))
      ->default_str(number_text(options.tolerance));
  const auto power = [&command](const std::string& name, std::optional<double>& value, const std::string& what) {
    command
        .add_option_function<double>(
            name, [&value](double v) { value = v; }, what)
        ->type_name("P")
        ->check(finite_number(0.0))
        ->default_str(value ? number_text(*value) : "the method's");
  };
  power("--mz-power", options.mz_power, "power p of each peak's m/z in its weight mz^p * I^q (cosine 0, the others 3)");
  power("--intensity-power", options.intensity_power,
        "power q of each peak's intensity (cosine 0.5, square-rooted; 1 for the plain cosine; the others 0.6)");
  command.add_flag("--reverse", options.reverse, "leave out the query's peaks that the reference lacks");
}

std::string usage_line(const CLI::App& app) {
  std::string name = app.get_name();
  for (const CLI::App* parent = app.get_parent(); parent != nullptr; parent = parent->get_parent()) {
    name = parent->get_name() + " " + name;
  }
  return help_formatter()->make_usage(&app, name);
}

}  // namespace tessarin::cli
