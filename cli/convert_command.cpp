// tessarin convert INPUT OUTPUT: the spectra of any spectrum file the readers
// take (MSP, MassBank, JCAMP-DX, MGF, JSON Lines, plain or gzip-compressed)
// written in another format (MSP, MGF, JSON Lines, a CSV peak table), so that
// a library made here opens in the tools people already use.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "common.h"
#include "core/errors.h"
#include "identify/tables.h"
#include "spectra/reader.h"
#include "spectra/writer.h"
#include "table_output.h"

namespace tessarin::cli {
namespace {

struct ConvertArguments {
  std::string input;
  std::string output;
  std::optional<spectra::Format> from;
  std::optional<spectra::Format> format;
};

CLI::Validator spectrum_format_name(bool written) {
  return CLI::Validator(
      [written](std::string& text) -> std::string {
        const std::optional<spectra::Format> f = spectra::format_named(text);
        if (written && f && *f != spectra::Format::massbank && *f != spectra::Format::jcamp) return {};
        if (!written && f && *f != spectra::Format::csv) return {};
        return std::string(written ? "must be msp, mgf, jsonl or csv" : "must be msp, massbank, jcamp, mgf or jsonl") +
               ", got '" + text + "'";
      },
      "", "spectrum format");
}

// The format asked for, else the one the output's name declares, else MSP.
spectra::Format output_format(const ConvertArguments& args) {
  if (args.format) return *args.format;
  if (args.output == "-") return spectra::Format::msp;
  const std::optional<spectra::Format> named = spectra::format_from_extension(args.output);
  if (named && (*named == spectra::Format::massbank || *named == spectra::Format::jcamp)) {
    throw UsageError("cannot write " + args.output + ": " + std::string(spectra::format_name(*named)) +
                     " files are read, not written (give --format msp, mgf, jsonl or csv)");
  }
  return named.value_or(spectra::Format::msp);
}

int run_convert(const ConvertArguments& args) {
  if (args.input != "-" && args.output != "-" &&
      (same_file(args.input, args.output) || same_file(args.input, args.output + ".errors.tsv"))) {
    throw UsageError("the output would overwrite the input " + args.input);
  }
  const spectra::Format format = output_format(args);
  std::optional<spectra::SpectrumReader> reader;
  try {
    if (args.output != "-") (void)spectra::writable_format(args.output, format);
    reader.emplace(args.input, args.from);
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  install_stop_handler();
  TableOutput out(args.output, identify::record_error_header());

  std::size_t converted = 0;
  try {
    if (format == spectra::Format::csv) out.write(spectra::csv_header());
    spectra::Spectrum s;
    while (!stop_requested()) {
      try {
        if (!reader->next(s)) break;
      } catch (const spectra::RecordError& e) {
        out.error(identify::record_error_row(e));
        continue;
      }
      // CSV rows are numbered by the line the record starts on.
      out.write(format == spectra::Format::csv ? spectra::csv_rows(s, reader->record_line())
                                               : spectra::format_record(s, format));
      ++converted;
    }
    out.close();
  } catch (const std::exception& e) {
    std::cerr << "tessarin: " << e.what() << '\n';
    try {
      out.close();
    } catch (const std::exception&) {
      // The first failure is the one to report; the file holds whole records.
    }
    return kExitUsage;
  }
  if (stop_requested()) {
    std::cerr << "tessarin: interrupted; " << converted << " spectra written to " << args.output << '\n';
    std::fflush(stdout);
    std::cerr.flush();
    std::_Exit(stop_exit_status());
  }
  if (out.errors() > 0) {
    std::cerr << "tessarin: " << out.errors() << " records could not be read (see " << out.errors_place() << "); "
              << converted << " spectra written\n";
    return kExitFailed;
  }
  if (converted == 0) {
    std::cerr << "tessarin: " << args.input << " holds no spectra\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

Command add_convert_command(CLI::App& program) {
  auto args = std::make_shared<ConvertArguments>();
  CLI::App* command = add_command(program, "convert", "Write the spectra of a spectrum file in another format.");
  command
      ->add_option("INPUT", args->input,
                   "spectrum file (MSP, MassBank or a directory of records, JCAMP-DX, MGF, JSON Lines), plain or .gz; "
                   "- reads standard input")
      ->required();
  command->add_option("OUTPUT", args->output, "spectrum file to write; - standard output")->required();
  command
      ->add_option_function<std::string>(
          "--format", [args](const std::string& name) { args->format = spectra::format_named(name); },
          "msp, mgf, jsonl or csv (a peak table); when not given, the one OUTPUT's extension names, else msp")
      ->type_name("FORMAT")
      ->check(spectrum_format_name(true))
      ->default_str("by extension");
  command
      ->add_option_function<std::string>(
          "--from", [args](const std::string& name) { args->from = spectra::format_named(name); },
          "the format of INPUT: msp, massbank, jcamp, mgf or jsonl")
      ->type_name("FORMAT")
      ->check(spectrum_format_name(false))
      ->default_str("by extension or content");
  command->footer(
      "The spectra keep their peaks, annotations and what the output format holds of their fields (an MGF\n"
      "header: TITLE, PEPMASS, MW, SMILES, FORMULA, COMMENTS and the MGF parameters; JSON Lines: every field).\n"
      "Records that cannot be read go to OUTPUT.errors.tsv (standard error for standard output) and the\n"
      "run goes on. OUTPUT is written uncompressed; a write that fails leaves it cut at its last whole record.\n"
      "exit status: 0 every record converted, 1 some could not be read (or none was there), 2 usage or file\n"
      "error, 128 + signal when stopped");
  return {command, [args] { return run_convert(*args); }};
}

}  // namespace tessarin::cli
