// What a stopped library run left, read back for a resumed run: whole records
// of every format count (with the input lines the format names), a record cut
// by a hard kill does not, and the error file's rows count as molecules.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/library.h"
#include "batch/resume.h"
#include "batch/writers.h"

namespace tessarin::batch {
namespace {

SpectrumRecord record(std::size_t line, const std::string& smiles) {
  SpectrumRecord r;
  r.line = line;
  r.name = "molecule " + std::to_string(line);
  r.smiles = smiles;
  r.formula = "C2H6O";
  r.mol_mass = 46;
  r.mol_mass_avg = 46.07;
  r.peaks = {{15, 200, "CH3", {}}, {31, 999, "CH3O", {}}, {45, 300, "C2H5O", {}}, {46, 400, "C2H6O", {}}};
  return r;
}

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(LibraryState, CountsTheWholeRecordsOfEveryFormatAndNotOneCutShort) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tessarin_library_state_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // Lines 2 and 5 written, 6 failed, 7 cut in the middle of its record (and a failure row cut too).
  const std::string errors = error_header() + error_row(6, "C1CC", "unparsable SMILES");
  for (const OutputFormat format : {OutputFormat::msp, OutputFormat::jsonl, OutputFormat::csv, OutputFormat::mgf}) {
    const std::string name = std::string(output_format_name(format));
    const std::string output = (dir / ("lib." + name)).string();
    const std::string whole =
        output_header(format) + format_record(record(2, "CCO"), format) + format_record(record(5, "OCC"), format);
    const std::string cut = format_record(record(7, "COC"), format);
    write(output, whole + cut.substr(0, cut.size() * 2 / 3));
    write(errors_path_of(output), errors + "8\tCC");

    const LibraryState state = read_library_state(output, format);
    const bool named = format == OutputFormat::jsonl || format == OutputFormat::csv;
    EXPECT_EQ(state.molecules, 3u) << name;
    EXPECT_EQ(state.output_bytes, whole.size()) << name;
    EXPECT_EQ(state.errors_bytes, errors.size()) << name;
    EXPECT_EQ(state.every_line_known, named) << name;
    const std::vector<std::size_t> lines = named ? std::vector<std::size_t>{2, 5, 6} : std::vector<std::size_t>{6};
    EXPECT_EQ(state.lines, lines) << name;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessarin::batch
