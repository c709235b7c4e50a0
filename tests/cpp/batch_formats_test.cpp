// Library writers, the stick peaks and the input readers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "batch/record.h"
#include "batch/writers.h"
#include "core/errors.h"
#include "run/input.h"
#include "spectra_test_support.h"

namespace tessarin::batch {
namespace {

using run::chunk_starts;
using run::input_format_of_path;
using run::InputFormat;
using run::MoleculeFile;
using run::MoleculeInput;
using run::MoleculeReader;
using run::ReaderPosition;
using run::resolve_sdf_record;

ms::FragmentEntry split(std::vector<ms::FragmentTuple> pieces, ms::CutMode mode = ms::CutMode::single) {
  return {"C1-O2", true, std::move(mode), std::move(pieces)};
}

TEST(SpectrumPeaks, MolecularIonKeepsItsFormulaAndTheFirstFormulaOfAnMzWins) {
  const std::vector<ms::FragmentEntry> fragments{
      split({{"C2H5", 29.06, 29}, {"HO", 17.01, 17}}),
      {"C0-C1", false, ms::CutMode::single, std::nullopt},
      split({{"C2H6O", 46.07, 46}, {"CH3", 15.03, 15}}),  // m/z of M: M keeps its label
      split({{"CHO", 29.02, 29}, {"CH5", 17.0, 17}}, ms::CutMode::ring),
  };
  const std::vector<prediction::Peak> peaks = prediction::schematic_peaks(46, "C2H6O", fragments, std::nullopt);
  const std::vector<prediction::Peak> expected{
      {15, 599, "CH3", {}}, {17, 599, "HO", {}}, {29, 599, "C2H5", {}}, {46, 999, "C2H6O", {}}};
  EXPECT_EQ(peaks, expected);

  const std::vector<ms::GenerationPeak> generations{{46, "C2H6O", 0}, {29, "CHO", 1}, {14, "CH2", 2}};
  const std::vector<prediction::Peak> with_generations = prediction::schematic_peaks(46, "C2H6O", {}, generations);
  const std::vector<prediction::Peak> expected_generations{
      {14, 599, "CH2", {}}, {29, 599, "CHO", {}}, {46, 999, "C2H6O", {}}};
  EXPECT_EQ(with_generations, expected_generations);
}

SpectrumRecord ethanol_like() {
  SpectrumRecord r;
  r.line = 7;
  r.name = "ethanol, \"dry\"";
  r.smiles = "CCO";
  r.formula = "C2H6O";
  r.mol_mass = 46;
  r.mol_mass_avg = 46.069;
  r.lpi.counts = {9, 0, 9};
  r.lpi.eigenvalues = {-1.5, 0.25};
  r.fragments = {split({{"C2H5", 29.06, 29}, {"HO", 17.01, 17}})};
  r.peaks = {{17, 599, "HO", {}}, {29, 599, "C2H5", {}}, {46, 999, "C2H6O", {}}};
  return r;
}

TEST(LibraryWriters, MspEntryHasTheNistFieldsAndQuotedPeakFormulas) {
  EXPECT_EQ(format_record(ethanol_like(), OutputFormat::msp),
            "Name: ethanol, \"dry\"\n"
            "Formula: C2H6O\n"
            "MW: 46\n"
            "Comments: \"SMILES=CCO\" \"LPI={n+=9, n0=0, n-=9}\"\n"
            "Num Peaks: 3\n"
            "17 599 \"HO\"\n"
            "29 599 \"C2H5\"\n"
            "46 999 \"C2H6O\"\n"
            "\n");
  SpectrumRecord unnamed = ethanol_like();
  unnamed.name = "";
  EXPECT_EQ(format_record(unnamed, OutputFormat::msp).substr(0, 10), "Name: CCO\n");
  unnamed.name = "two\nlines";
  EXPECT_EQ(format_record(unnamed, OutputFormat::msp).substr(0, 16), "Name: two lines\n");
}

TEST(LibraryWriters, CsvQuotesFieldsThatNeedItAndJsonSurvivesOtherEncodings) {
  const std::string rows = format_record(ethanol_like(), OutputFormat::csv);
  EXPECT_EQ(rows.substr(0, rows.find('\n') + 1), "7,\"ethanol, \"\"dry\"\"\",CCO,17,599,HO\n");
  SpectrumRecord latin1 = ethanol_like();
  latin1.name = "caf\xe9";  // not UTF-8: replaced, not an exception
  EXPECT_NO_THROW(nlohmann::json::parse(format_record(latin1, OutputFormat::jsonl)));
}

TEST(LibraryWriters, ErrorRowsStayOneLineOfThreeColumns) {
  EXPECT_EQ(error_header(), "line\tsmiles\treason\n");
  EXPECT_EQ(error_row(12, "C\tC", "bad\nthing"), "12\tC C\tbad thing\n");
  EXPECT_EQ(output_format_named("msp"), OutputFormat::msp);
  EXPECT_FALSE(output_format_named("MSP").has_value());
}

std::vector<MoleculeInput> read_all(const std::string& text, InputFormat format) {
  core::LineSource in = core::LineSource::of_text(text, "text");
  MoleculeReader reader(in, format);
  std::vector<MoleculeInput> out;
  MoleculeInput m;
  while (reader.next(m)) out.push_back(m);
  return out;
}

TEST(MoleculeReader, SmilesFilesSkipHeaderBlankAndCommentLinesAndKeepLineNumbers) {
  const auto mols =
      read_all("SMILES Name\n\nCCO ethanol extra\n# note\r\n  c1ccccc1\tbenzene\r\nC\n", InputFormat::smiles);
  ASSERT_EQ(mols.size(), 3u);
  EXPECT_EQ(mols[0].smiles, "CCO");
  EXPECT_EQ(mols[0].name, "ethanol extra");  // the rest of the line, spaces included
  EXPECT_EQ(mols[0].line, 3u);
  EXPECT_EQ(mols[1].smiles, "c1ccccc1");
  EXPECT_EQ(mols[1].name, "benzene");
  EXPECT_EQ(mols[1].line, 5u);
  EXPECT_EQ(mols[2].name, "");
  EXPECT_EQ(mols[2].line, 6u);
  // Only a first line is a header.
  EXPECT_EQ(read_all("C\nsmiles\n", InputFormat::smiles).size(), 2u);
}

const char* kMolBlock =
    "methanol\n"
    "  test\n"
    "\n"
    "  2  1  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "    1.2990    0.7500    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\n"
    "  1  2  1  0\n"
    "M  END\n";

TEST(MoleculeReader, SdfRecordsGiveTheirTitleLineAndCanonicalSmiles) {
  const std::string sdf =
      std::string(kMolBlock) + ">  <ID>\n42\n\n$$$$\n" + "garbage\n\n\n  x\nM  END\n$$$$\n" + kMolBlock;
  auto mols = read_all(sdf, InputFormat::sdf);
  ASSERT_EQ(mols.size(), 3u);  // the last record lacks its "$$$$" and still counts
  EXPECT_EQ(mols[0].line, 1u);
  EXPECT_EQ(mols[1].line, 13u);
  EXPECT_EQ(mols[2].line, 19u);
  resolve_sdf_record(mols[0]);
  EXPECT_EQ(mols[0].name, "methanol");
  EXPECT_EQ(mols[0].smiles, "CO");
  EXPECT_THROW(resolve_sdf_record(mols[1]), InvalidInput);
  EXPECT_EQ(input_format_of_path("lib.SDF"), InputFormat::sdf);
  EXPECT_EQ(input_format_of_path("lib.smi"), InputFormat::smiles);
}

TEST(MoleculeReader, CsvAndTabSeparatedRowsGiveSmilesNamesAndFirstLines) {
  const auto csv = read_all(
      "\nid,Compound Name,Canonical_SMILES\r\n7,\"ethanol, dry\",CCO\n\n8,\"two\nlines \"\"quoted\"\"\", c1ccccc1 "
      "\n9\n",
      InputFormat::csv);
  ASSERT_EQ(csv.size(), 3u);
  EXPECT_EQ(csv[0].smiles, "CCO");
  EXPECT_EQ(csv[0].name, "ethanol, dry");
  EXPECT_EQ(csv[0].line, 3u);
  EXPECT_EQ(csv[1].name, "two\nlines \"quoted\"");
  EXPECT_EQ(csv[1].smiles, "c1ccccc1");
  EXPECT_EQ(csv[1].line, 5u);
  EXPECT_EQ(csv[2].smiles, "");  // a short row: refused later as "no SMILES"
  EXPECT_EQ(csv[2].line, 7u);

  const auto tsv = read_all("name\tsmiles\tnote\nbenzene\tc1ccccc1\t\"as is\"\n", InputFormat::tsv);
  ASSERT_EQ(tsv.size(), 1u);
  EXPECT_EQ(tsv[0].name, "benzene");
  EXPECT_EQ(tsv[0].smiles, "c1ccccc1");

  EXPECT_THROW(read_all("name,structure\nx,CCO\n", InputFormat::csv), InvalidInput);
  EXPECT_THROW(read_all("smiles\n\"CCO\n", InputFormat::csv), InvalidInput);
  EXPECT_EQ(input_format_of_path("cands.CSV"), InputFormat::csv);
  EXPECT_EQ(input_format_of_path("cands.tsv"), InputFormat::tsv);
}

// A molecule file reads the same whatever its line breaks and compression,
// with its format told by the name (under .gz too) or the content, and a
// chunk read from a position chunk_starts gives goes on exactly there.
TEST(MoleculeFile, LfCrlfCrAndGzipCopiesGiveTheSameMolecules) {
  spectra::testing::TempDir dir;
  const std::pair<std::string, std::string> samples[] = {
      {".smi", "SMILES Name\n\nCCO ethanol extra\n# note\nc1ccccc1\tbenzene\n"},
      {".csv", "id,name,smiles\n7,\"ethanol,\ndry\",CCO\n8,benzene,c1ccccc1\n"},
      {".sdf", std::string(kMolBlock) + "> <CAS>\n67-56-1\n\n$$$$\n" + kMolBlock + "$$$$\n"},
  };
  const auto read = [](const std::string& path) {
    MoleculeFile file(path);
    std::vector<MoleculeInput> out;
    MoleculeInput m;
    while (file.next(m)) out.push_back(m);
    return std::pair(file.format(), out);
  };
  const auto same = [](const std::vector<MoleculeInput>& a, const std::vector<MoleculeInput>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i].line != b[i].line || a[i].name != b[i].name || a[i].smiles != b[i].smiles ||
          a[i].molblock != b[i].molblock) {
        return false;
      }
    }
    return true;
  };
  int n = 0;
  for (const auto& [extension, lf] : samples) {
    const auto [format, expected] = read(dir.write("lf" + extension, lf));
    ASSERT_EQ(expected.size(), 2u) << extension;
    for (const char* line_break : {"\r\n", "\r"}) {
      const std::string copy = spectra::testing::with_line_breaks(lf, line_break);
      const std::string shown = extension + (line_break[1] ? " CRLF" : " CR");
      const std::string named = dir.write(std::to_string(n++) + extension, copy);
      EXPECT_TRUE(same(read(named).second, expected)) << shown;
      const std::string unnamed = dir.write(std::to_string(n++), copy);
      EXPECT_EQ(read(unnamed).first, format) << shown;
      EXPECT_TRUE(same(read(unnamed).second, expected)) << shown;
      const std::string gz = dir.path(std::to_string(n++) + extension + ".gz");
      spectra::testing::write_gzip(gz, copy);
      EXPECT_TRUE(same(read(gz).second, expected)) << shown << " .gz";

      std::size_t count = 0;
      const std::vector<ReaderPosition> starts = chunk_starts(named, 1, count);
      ASSERT_EQ(starts.size(), 2u) << shown;
      MoleculeFile second(named, starts[1]);
      MoleculeInput m;
      ASSERT_TRUE(second.next(m)) << shown;
      EXPECT_TRUE(same({m}, {expected[1]})) << shown << " from its chunk start";
      EXPECT_FALSE(second.next(m)) << shown;
    }
  }
}

}  // namespace
}  // namespace tessarin::batch
