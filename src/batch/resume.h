// Going on with a library that a stopped run left behind. Every run that
// writes a file records beside it (OUTPUT.run.json) what it was made from and
// how; a resumed run must agree with that record, finds how many molecules
// the output and its error file already hold (cutting off a record that a
// hard kill left half-written), and appends the rest. Records are written in
// input order, each flushed before the next, so the files always hold a
// prefix of the input plus at most one partial record.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "batch/writers.h"
#include "prediction/predict.h"
#include "run/input.h"

namespace tessarin::batch {

// What a library file is made from and how: everything that decides its
// contents (not the number of jobs or the time limit).
struct RunDescription {
  std::string program;                        // name and version of what wrote it
  std::string input;                          // absolute path, or a description of the molecules
  std::optional<std::uintmax_t> input_bytes;  // size of the input file, when it is one
  std::optional<run::LineRange> lines;        // the part of the input, when not all of it
  OutputFormat format = OutputFormat::msp;
  analysis::Options options;
  prediction::Model model = prediction::Model::schematic;
};

// Names the input file `path` in `run`: its absolute path and its size ("-",
// standard input, as given and without a size).
void describe_input_file(RunDescription& run, const std::string& path);

// A library that cannot be resumed, and why.
class ResumeRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// OUTPUT.run.json.
std::string run_record_path_of(const std::string& output_path);

// Writes the record of `run` beside the output (replacing it whole, never
// leaving half a file). Throws std::runtime_error when it cannot.
void write_run_record(const std::string& output_path, const RunDescription& run);

// Throws ResumeRefused unless the record beside the output describes `run`;
// the message names what differs.
void check_run_record(const std::string& output_path, const RunDescription& run);

// What an existing library holds, read from its files.
struct LibraryState {
  std::size_t molecules = 0;        // whole records and failure rows: the first molecules of the input
  std::vector<std::size_t> lines;   // their input lines, ascending, as far as the files tell
  bool every_line_known = false;    // `lines` has every molecule (JSON Lines and CSV name theirs)
  std::uintmax_t output_bytes = 0;  // length of the output's whole part
  std::uintmax_t errors_bytes = 0;  // length of the error file's whole part (0: no file worth keeping)
};

// Reads the output (in `format`) and its error file. Throws ResumeRefused
// when a file is not what this program writes.
LibraryState read_library_state(const std::string& output_path, OutputFormat format);

}  // namespace tessarin::batch
