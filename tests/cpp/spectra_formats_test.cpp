// Spectrum files: the shapes other tools write, the round trip through each
// writer, and malformed or junk input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "spectra/reader.h"
#include "spectra/writer.h"
#include "spectra_test_support.h"

namespace tessarin::spectra {
namespace {

using testing::data_dir;
using testing::TempDir;

std::vector<Spectrum> read_fixture(const std::string& name) { return read_spectra((data_dir() / name).string()); }

using Annotations = std::vector<std::vector<std::string>>;

TEST(SpectrumFiles, NistAndAmdisExportsWithCrlfLatin1PairsSynonymsAndCommentLines) {
  const std::vector<Spectrum> s = read_fixture("spectra/nist_export.msp");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].name(), "2-Chloro\u00e9thanol");  // Latin-1 e-acute read as such
  EXPECT_EQ(s[0].metadata.get(keys::synonyms), "Ethylene chlorohydrin\n$:00in-source");
  EXPECT_EQ(s[0].metadata.get(keys::smiles), "OCCCl");
  EXPECT_EQ(s[0].metadata.get(keys::comments), "\"measured at 70 eV\"");
  EXPECT_EQ(s[0].metadata.get("CAS#"), "107-07-3");
  EXPECT_EQ(s[0].molecular_mass(), 80.0);
  EXPECT_EQ(s[0].mz, (std::vector<double>{27, 29, 31, 43, 44, 49, 80}));
  EXPECT_EQ(s[0].intensities, (std::vector<double>{120, 80, 999, 150, 330, 90, 40}));
  EXPECT_EQ(s[1].name(), "Methanol");  // upper-case field names
  EXPECT_EQ(s[1].mz, (std::vector<double>{15, 29, 31, 32}));
  EXPECT_EQ(s[2].intensities, (std::vector<double>{230, 330, 260}));  // AMDIS "(mz int)" pairs
}

TEST(SpectrumFiles, MonaAnnotationsAndMsDialTabs) {
  const std::vector<Spectrum> s = read_fixture("spectra/mona_msdial.msp");
  ASSERT_EQ(s.size(), 2u);
  // The quoted "computed SMILES=" comment is not the structure.
  EXPECT_EQ(s[0].metadata.get(keys::smiles), "CC(=O)C");
  EXPECT_EQ(s[0].metadata.get(keys::comments), "\"computed SMILES=CC(C)=O\" \"cas=67-64-1\"");
  EXPECT_EQ(s[0].metadata.get(keys::accession), "MoNA000001");
  EXPECT_EQ(s[0].metadata.get(keys::instrument), "GC-EI-TOF");
  EXPECT_EQ(s[0].annotations, (Annotations{{"CH3"}, {"C2H2O"}, {"C2H3O", "C3H7"}, {"C3H6O"}}));
  EXPECT_EQ(s[1].name(), "Caf\u00e9ine");
  EXPECT_EQ(s[1].metadata.get(keys::precursor_mz), "195.0877");
  EXPECT_EQ(s[1].metadata.get("PRECURSORTYPE"), "[M+H]+");
  EXPECT_EQ(s[1].mz, (std::vector<double>{110.0713, 138.0662, 195.0877}));
  EXPECT_EQ(s[1].intensities, (std::vector<double>{12.5, 100, 48.25}));
}

TEST(SpectrumFiles, JcampLinkBlockHoldsTwoSpectraWithFactorsAndComments) {
  const std::vector<Spectrum> s = read_fixture("spectra/two_blocks.jdx");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].name(), "BENZENE");
  EXPECT_EQ(s[0].metadata.get(keys::formula), "C6H6");
  EXPECT_EQ(s[0].metadata.get(keys::smiles), "c1ccccc1");
  EXPECT_EQ(s[0].metadata.get("CAS REGISTRY NO"), "71-43-2");
  EXPECT_FALSE(s[0].metadata.contains("XUNITS"));
  EXPECT_EQ(s[0].mz, (std::vector<double>{39, 50, 51, 52, 77, 78}));
  EXPECT_EQ(s[1].name(), "TOLUENE");
  EXPECT_EQ(s[1].intensities, (std::vector<double>{110, 999, 600}));  // YFACTOR=0.5
}

TEST(SpectrumFiles, MgfRecordsSkipGlobalParametersAndSplitPepmass) {
  const std::vector<Spectrum> s = read_fixture("spectra/gnps_style.mgf");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].name(), "caffeine [M+H]+");
  EXPECT_EQ(s[0].metadata.get(keys::precursor_mz), "195.0877");
  EXPECT_EQ(s[0].metadata.get(keys::precursor_intensity), "12000");
  EXPECT_EQ(s[0].metadata.get("SPECTRUMID"), "CCMSLIB00000001");
  EXPECT_EQ(s[0].annotations, (Annotations{{}, {"C6H8N3O+"}, {"1+"}}));  // sorted by m/z
  EXPECT_EQ(s[1].mz, (std::vector<double>{43, 58}));
}

TEST(SpectrumFiles, MassBankDirectoryInNameOrderWithFirstNameAndAbsoluteIntensities) {
  SpectrumReader reader((data_dir() / "massbank").string());
  EXPECT_EQ(reader.format(), Format::massbank);
  Spectrum eptc;
  Spectrum uv;
  ASSERT_TRUE(reader.next(eptc));
  ASSERT_TRUE(reader.next(uv));
  Spectrum none;
  EXPECT_FALSE(reader.next(none));
  EXPECT_EQ(eptc.name(), "EPTC");
  EXPECT_EQ(eptc.metadata.get(keys::synonyms), "S-Ethyl dipropylthiocarbamate");
  EXPECT_EQ(eptc.metadata.get(keys::accession), "MSBNK-MSSJ-MSJ01042");
  EXPECT_EQ(eptc.metadata.get(keys::instrument), "GC-EI-Q");
  EXPECT_EQ(eptc.metadata.get(keys::smiles), "CCCN(CCC)C(=O)SCC");
  EXPECT_EQ(eptc.metadata.get("LICENSE"), "CC BY");
  EXPECT_EQ(eptc.metadata.get("CH$LINK").substr(0, 38), "INCHIKEY GUVLYNGULCJVDO-UHFFFAOYSA-N\nP");
  EXPECT_EQ(eptc.size(), 33u);
  EXPECT_EQ(uv.molecular_mass(), 323.199762);  // exact mass when no nominal one is given
  EXPECT_EQ(uv.mz[3], 252.11311);
  EXPECT_EQ(uv.intensities[3], 34862862);  // "int.", not the rounded "rel.int."
}

TEST(SpectrumFiles, BrokenFileInADirectoryIsNamedAndTheOthersAreRead) {
  TempDir dir;
  const std::string good = "ACCESSION: A\nCH$NAME: a\nPK$PEAK: m/z int. rel.int.\n  10 5 999\n//\n";
  dir.write("1.txt", good);
  const std::string broken = dir.write("2.txt", "ACCESSION: B\nPK$PEAK: m/z int. rel.int.\n  10 x 999\n//\n");
  dir.write("3.TXT", good);
  dir.write("notes.md", "not a record");
  SpectrumReader reader(dir.path(""));
  Spectrum s;
  ASSERT_TRUE(reader.next(s));
  try {
    reader.next(s);
    FAIL() << "the broken record was read";
  } catch (const RecordError& e) {
    EXPECT_EQ(e.path(), broken);
    EXPECT_EQ(e.line(), 3u);
    EXPECT_EQ(reader.record_path(), broken);
  }
  ASSERT_TRUE(reader.next(s));
  EXPECT_EQ(s.name(), "a");
  EXPECT_FALSE(reader.next(s));
}

TEST(SpectrumFiles, JcampDataOtherThanMassPeakTablesIsRefused) {
  TempDir dir;
  const std::string path = dir.write("other.jdx",
                                     "##TITLE=ir\n##DATA TYPE=INFRARED SPECTRUM\n##PEAK TABLE=(XY..XY)\n1,2\n##END=\n"
                                     "##TITLE=compressed\n##XYDATA=(X++(Y..Y))\n1 2 3\n##END=\n"
                                     "##TITLE=ok\n##PEAK TABLE=(XY..XY)\n10,20\n##END=\n");
  std::vector<RecordError> errors;
  const std::vector<Spectrum> s = read_spectra(path, std::nullopt, &errors);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].name(), "ok");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].reason().find("not a mass spectrum"), std::string::npos);
  EXPECT_EQ(errors[1].line(), 7u);
}

TEST(SpectrumFiles, BatchRecordsAndMeasuredJsonLines) {
  TempDir dir;
  const std::string path = dir.write(
      "mixed.jsonl",
      R"({"line": 3, "name": "ethanol", "smiles": "CCO", "formula": "C2H6O", "mol_mass": 46, "lpi": {"n+": 9}, )"
      R"("peaks": [{"mz": 46, "intensity": 999, "formula": "C2H6O"}, {"mz": 29, "intensity": 599, "formula": ["C2H5", "CHO"]}]})"
      "\n\n"
      R"({"accession": "X1", "smiles": "C", "nominal_mass": 16, "instrument_type": "EI-B", "elements": ["C", "H"], )"
      R"("peaks": [[15, 850.5], [16, 999.0]]})"
      "\n");
  const std::vector<Spectrum> s = read_spectra(path);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].mz, (std::vector<double>{29, 46}));
  EXPECT_EQ(s[0].annotations, (Annotations{{"C2H5", "CHO"}, {"C2H6O"}}));
  EXPECT_EQ(s[0].metadata.get("lpi"), R"({"n+":9})");
  EXPECT_EQ(s[1].molecular_mass(), 16.0);
  EXPECT_EQ(s[1].metadata.get(keys::instrument), "EI-B");
  // Members other than text stay JSON when written again.
  EXPECT_NE(jsonl_record(s[1]).find(R"("elements": ["C","H"])"), std::string::npos);
  EXPECT_NE(jsonl_record(s[0]).find(R"("line": 3, )"), std::string::npos);
}

// Every reader takes a file whatever its line breaks (LF, CRLF, old Mac CR)
// and gzip-compressed, the format told from the name under .gz or from the
// decompressed content.
TEST(SpectrumFiles, LfCrlfCrAndGzipCopiesReadTheSame) {
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> samples;  // extension, content
  for (const char* fixture : {"spectra/nist_export.msp", "spectra/mona_msdial.msp", "spectra/two_blocks.jdx",
                              "spectra/gnps_style.mgf", "massbank/MSBNK-NILU-NL0035.txt"}) {
    const std::filesystem::path path = data_dir() / fixture;
    samples.emplace_back(path.extension().string(), testing::file_text(path));
  }
  write_spectra(dir.path("made.jsonl"), read_fixture("spectra/mona_msdial.msp"));
  samples.emplace_back(".jsonl", testing::file_text(dir.path("made.jsonl")));
  int n = 0;
  for (const auto& [extension, content] : samples) {
    const std::string lf = testing::with_line_breaks(content, "\n");
    const std::vector<Spectrum> expected = read_spectra(dir.write("lf" + extension, lf));
    ASSERT_FALSE(expected.empty()) << extension;
    for (const char* line_break : {"\r\n", "\r"}) {
      const std::string copy = testing::with_line_breaks(content, line_break);
      const std::string named = dir.write(std::to_string(n++) + extension, copy);
      EXPECT_EQ(read_spectra(named), expected) << extension << " with " << (line_break[1] ? "CRLF" : "CR");
      const std::string gz = dir.path(std::to_string(n++) + extension + ".gz");
      testing::write_gzip(gz, copy);
      EXPECT_EQ(read_spectra(gz), expected) << extension << ".gz";
      const std::string unnamed = dir.path(std::to_string(n++) + ".gz");  // told by the content
      testing::write_gzip(unnamed, copy);
      EXPECT_EQ(read_spectra(unnamed), expected) << extension << " as .gz without its name";
    }
  }
}

// A peak value that is NaN or infinite is refused as such, naming the value
// and its line, in every format.
TEST(SpectrumReaders, NonFinitePeakValuesAreNamedWithTheirLine) {
  struct Case {
    const char* name;
    const char* text;
    std::size_t line;
    const char* value;
  };
  const Case cases[] = {
      {"mz.msp", "Name: a\nNum Peaks: 2\n10 5\nNaN 7\n\nName: b\nNum Peaks: 1\n12 3\n", 4, "NaN"},
      {"intensity.msp", "Name: a\nNum Peaks: 2\n10 5; 11 -inf\n\nName: b\nNum Peaks: 1\n12 3\n", 3, "-inf"},
      {"big.msp", "Name: a\nNum Peaks: 1\n10 1e999\n\nName: b\nNum Peaks: 1\n12 3\n", 3, "1e999"},
      {"peak.mgf", "BEGIN IONS\nTITLE=a\nnan 3\nEND IONS\nBEGIN IONS\n12 3\nEND IONS\n", 3, "nan"},
      {"pepmass.mgf", "BEGIN IONS\nPEPMASS=inf\n10 3\nEND IONS\nBEGIN IONS\n12 3\nEND IONS\n", 2, "inf"},
      {"table.jdx",
       "##TITLE=a\n##PEAK TABLE=(XY..XY)\n1,2 3,nan\n##END=\n##TITLE=b\n##PEAK TABLE=(XY..XY)\n5,6\n##END=\n", 3,
       "nan"},
      {"record.txt",
       "ACCESSION: A\nPK$PEAK: m/z int. rel.int.\n  10 Infinity 999\n//\nACCESSION: B\nPK$PEAK: m/z int. "
       "rel.int.\n  11 5 999\n//\n",
       3, "Infinity"},
      {"python.jsonl", "{\"peaks\": [[1, 2]]}\n{\"name\": \"NaN\", \"peaks\": [[10, NaN]]}\n", 2, "NaN"},
      {"big.jsonl", "{\"peaks\": [[1e400, 2]]}\n{\"peaks\": [[1, 2]]}\n", 1, "1e400"},
      {"quoted.jsonl", "{\"peaks\": [[1, 2]]}\n{\"name\": \"say \\\"-Infinity\\\" \", \"peaks\": [[10, inf]]}\n", 2,
       "inf"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::vector<RecordError> errors;
    const std::vector<Spectrum> good = read_spectra(dir.write(c.name, c.text), std::nullopt, &errors);
    EXPECT_EQ(good.size(), 1u) << c.name;
    ASSERT_EQ(errors.size(), 1u) << c.name;
    EXPECT_EQ(errors[0].line(), c.line) << c.name;
    EXPECT_EQ(errors[0].reason(), "the value '" + std::string(c.value) + "' is not a finite number") << c.name;
  }
}

// JSON Lines records nested more than 64 levels deep are refused before
// parsing; brackets inside strings, escaped quotes and all, do not count.
TEST(SpectrumReaders, JsonNestingIsCountedOutsideStrings) {
  const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  const std::string in_name = "\"a \\\"" + std::string(100, '[') + "\"";
  const std::string text = "{\"name\": " + in_name + ", \"peaks\": [[1, 2]]}\n" + "{\"x\": " + nested(63) +
                           ", \"peaks\": [[3, 4]]}\n" + "{\"x\": " + nested(64) + ", \"peaks\": [[5, 6]]}\n";
  TempDir dir;
  std::vector<RecordError> errors;
  const std::vector<Spectrum> good = read_spectra(dir.write("deep.jsonl", text), std::nullopt, &errors);
  ASSERT_EQ(good.size(), 2u);
  EXPECT_EQ(good[0].metadata.get(keys::name), "a \"" + std::string(100, '['));
  EXPECT_EQ(good[1].metadata.get("x"), nested(63));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].line(), 3u);
  EXPECT_EQ(errors[0].reason(), "JSON nested more than 64 levels deep");
}

TEST(SpectrumFiles, FormatFromExtensionElseContent) {
  TempDir dir;
  const std::string msp_txt = dir.write("library.txt", "Name: x\nNum Peaks: 1\n10 20\n");
  const std::string massbank_txt =
      dir.write("record.txt", "ACCESSION: A\nPK$PEAK: m/z int. rel.int.\n  10 5 999\n//\n");
  const std::string mgf_noext = dir.write("spectra", "CHARGE=1+\nBEGIN IONS\n10 20\nEND IONS\n");
  const std::string junk = dir.write("junk.dat", "hello world\n");
  EXPECT_EQ(SpectrumReader(msp_txt).format(), Format::msp);
  EXPECT_EQ(SpectrumReader(massbank_txt).format(), Format::massbank);
  EXPECT_EQ(SpectrumReader(mgf_noext).format(), Format::mgf);
  EXPECT_THROW(SpectrumReader{junk}, InvalidInput);
  EXPECT_THROW(SpectrumReader{dir.path("missing.msp")}, InvalidInput);
  EXPECT_EQ(read_spectra(massbank_txt)[0].intensities, std::vector<double>{5});
}

TEST(SpectrumWriters, SharedMzKeepsEveryFormulaAndMspIsStrict) {
  Spectrum s = Spectrum::from_peaks(
      {127, 43}, {999, 250.5}, {{"I", "C7H11O2"}, {}},
      {{"name", "iodo ester"}, {"smiles", "CCOC(=O)C"}, {"mol_mass", "254"}, {"synonyms", "a\nb"}, {"CAS#", "1-2-3"}});
  EXPECT_EQ(msp_record(s),
            "Name: iodo ester\n"
            "MW: 254\n"
            "Synon: a\n"
            "Synon: b\n"
            "CAS#: 1-2-3\n"
            "Comments: \"SMILES=CCOC(=O)C\"\n"
            "Num Peaks: 2\n"
            "43 250.5\n"
            "127 999 \"I, C7H11O2\"\n"
            "\n");
  EXPECT_NE(jsonl_record(s).find(R"({"mz": 127, "intensity": 999, "formula": ["I", "C7H11O2"]})"), std::string::npos);
  EXPECT_NE(mgf_record(s).find("127 999 \"I, C7H11O2\"\n"), std::string::npos);
}

// What an MGF header keeps of a spectrum's fields: the ones MGF readers look
// for (the fields every reader fills; other fields only as MGF parameters).
Spectrum as_mgf_keeps(Spectrum s) {
  const std::string_view kept[] = {keys::name,       keys::synonyms,   keys::smiles,       keys::formula,
                                   keys::mol_mass,   keys::exact_mass, keys::precursor_mz, keys::precursor_intensity,
                                   keys::instrument, keys::accession,  keys::comments};
  Metadata m;
  for (const auto& [key, value] : s.metadata.entries()) {
    const bool parameter = std::isupper(static_cast<unsigned char>(key[0])) &&
                           std::all_of(key.begin(), key.end(), [](char c) { return std::isalnum(c) || c == '_'; });
    if (parameter || std::find(std::begin(kept), std::end(kept), key) != std::end(kept)) m.set(key, value);
  }
  s.metadata = m;
  return s;
}

// read(write(x)) == x for random spectra in every written format (MGF: for
// the fields its header holds).
TEST(SpectrumWriters, WhatIsWrittenReadsBackTheSame) {
  std::mt19937 rng(7);
  std::vector<Spectrum> spectra;
  for (int k = 0; k < 40; ++k) {
    Spectrum s = testing::random_spectrum(rng, 1 + k % 9, k % 2 == 0);
    for (std::size_t i = 0; i < s.size(); i += 2) s.annotations[i] = {std::string("C").append(std::to_string(i)), "Br"};
    s.metadata.set(keys::name, "m\u00fcller #" + std::to_string(k) + (k % 3 ? "" : " \"quoted\""));
    if (k % 2) s.metadata.set(keys::smiles, "C(Cl)" + std::to_string(k));
    if (k % 3) s.metadata.set(keys::precursor_mz, "123.25");
    s.metadata.set(keys::mol_mass, std::to_string(100 + k));
    if (k % 4 == 0) s.metadata.set(keys::synonyms, "first\nsecond");
    if (k % 5 == 0) s.metadata.set(keys::comments, "\"note\" plain words");
    s.metadata.set("Retention index", "1234.5");
    spectra.push_back(std::move(s));
  }
  spectra.push_back(Spectrum::from_peaks({}, {}, {}, {{"name", "empty"}}));
  TempDir dir;
  for (Format f : {Format::msp, Format::mgf, Format::jsonl}) {
    const std::string path = dir.path("out." + std::string(format_name(f)));
    write_spectra(path, spectra, f);
    const std::vector<Spectrum> back = read_spectra(path);
    ASSERT_EQ(back.size(), spectra.size()) << format_name(f);
    for (std::size_t i = 0; i < spectra.size(); ++i) {
      const Spectrum expected = f == Format::mgf ? as_mgf_keeps(spectra[i]) : spectra[i];
      EXPECT_EQ(back[i], expected) << format_name(f) << " spectrum " << i << "\n" << msp_record(back[i]);
    }
  }
  // And the fixtures, read in their own shapes, survive each writer.
  for (const char* fixture : {"spectra/nist_export.msp", "spectra/mona_msdial.msp", "spectra/two_blocks.jdx",
                              "spectra/gnps_style.mgf", "massbank"}) {
    const std::vector<Spectrum> original = read_fixture(fixture);
    for (Format f : {Format::msp, Format::mgf, Format::jsonl}) {
      const std::string path = dir.path("fixture." + std::string(format_name(f)));
      write_spectra(path, original, f);
      std::vector<Spectrum> expected = original;
      if (f == Format::mgf) std::transform(expected.begin(), expected.end(), expected.begin(), as_mgf_keeps);
      EXPECT_EQ(read_spectra(path), expected) << fixture << " as " << format_name(f);
    }
  }
}

// Each malformed record is reported with its file and line, and the records
// around it are still read.
TEST(SpectrumReaders, MalformedRecordIsSkippedWithItsLine) {
  struct Case {
    const char* name;
    const char* text;
    std::size_t good;
    std::size_t error_line;
  };
  const Case cases[] = {
      {"short.msp", "Name: a\nNum Peaks: 3\n10 1\n11 2\n\nName: b\nNum Peaks: 1\n12 3\n", 1, 5},
      {"long.msp", "Name: a\nNum Peaks: 1\n10 1\n11 2\n\nName: b\nNum Peaks: 1\n12 3\n", 1, 4},
      {"nan.msp", "Name: a\nNum Peaks: 2\n10 nan\n11 2\n\nName: b\nNum Peaks: 1\n12 3\n", 1, 3},
      {"negative.msp", "Name: a\nNum Peaks: 1\n10 -1\nName: b\nNum Peaks: 1\n12 3\n", 1, 3},
      {"nopeaks.msp", "Name: a\nFormula: C\nName: b\nNum Peaks: 1\n12 3\n", 1, 3},
      {"nocount.msp", "Name: a\nFormula: C\n\nDB#: 2\nName: b\nNum Peaks: 1\n12 3\n", 1, 3},
      {"huge.msp", "Name: a\nNum Peaks: 1\n10 1e999\n\nName: b\nNum Peaks: 1\n12 3\n", 1, 3},
      {"noend.mgf", "BEGIN IONS\n10 1\nBEGIN IONS\n12 3\nEND IONS\nBEGIN IONS\n13 1\n", 1, 1},
      {"badkey.mgf", "BEGIN IONS\nno equals sign\n10 1\nEND IONS\nBEGIN IONS\n12 3\nEND IONS\n", 1, 2},
      {"bad.jsonl",
       "{\"peaks\": [[1, 2]]}\n{\"peaks\": [[1, \"x\"]]}\n{\"peaks\": [[3, 4]]}\n[1]\n{\"peaks\": [[1e400, 1]]}\n", 2,
       2},
      {"npoints.jdx",
       "##TITLE=a\n##NPOINTS=3\n##PEAK TABLE=(XY..XY)\n1,2 3,4\n##END=\n##TITLE=b\n##PEAK "
       "TABLE=(XY..XY)\n5,6\n##END=\n",
       1, 1},
      {"noend.jdx", "##TITLE=a\n##PEAK TABLE=(XY..XY)\n1,2\n##TITLE=b\n##PEAK TABLE=(XY..XY)\n5,6\n##END=\n", 1, 1},
      {"count.txt",
       "ACCESSION: A\nPK$NUM_PEAK: 2\nPK$PEAK: m/z int. rel.int.\n  10 5 999\n//\nACCESSION: B\nPK$PEAK: m/z int. "
       "rel.int.\n  11 5 999\n//\n",
       1, 5},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.write(c.name, c.text);
    std::vector<RecordError> errors;
    const std::vector<Spectrum> good = read_spectra(path, std::nullopt, &errors);
    EXPECT_EQ(good.size(), c.good) << c.name;
    ASSERT_FALSE(errors.empty()) << c.name;
    EXPECT_EQ(errors[0].path(), path);
    EXPECT_EQ(errors[0].line(), c.error_line) << c.name << ": " << errors[0].what();
    EXPECT_THROW(read_spectra(path), RecordError) << c.name;
  }
}

// Junk never crashes or hangs a reader: random bytes, and every valid
// fixture cut short or with bytes flipped, in every format.
TEST(SpectrumReaders, JunkAndDamagedFilesEndWithRecordsOrErrors) {
  TempDir dir;
  std::mt19937 rng(11);
  std::vector<std::string> samples;
  for (const char* fixture : {"spectra/nist_export.msp", "spectra/mona_msdial.msp", "spectra/two_blocks.jdx",
                              "spectra/gnps_style.mgf", "massbank/MSBNK-NILU-NL0035.txt"}) {
    std::ifstream in(data_dir() / fixture, std::ios::binary);
    samples.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string bytes(3000, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  samples.push_back(bytes);
  samples.push_back(std::string(200000, '[') + "\n");  // nesting that would overflow a recursive parser
  samples.push_back("");
  int files = 0;
  for (const std::string& sample : samples) {
    for (int variant = 0; variant < 30; ++variant) {
      std::string damaged = sample;
      if (variant > 0 && !damaged.empty()) {
        if (variant % 2) damaged.resize(rng() % damaged.size());
        for (int flips = 0; flips < variant % 5 && !damaged.empty(); ++flips) {
          damaged[rng() % damaged.size()] = "\n\r\t\"#;:=, 0.-eE\xff\x00"[rng() % 18];
        }
      }
      for (Format f : {Format::msp, Format::massbank, Format::jcamp, Format::mgf, Format::jsonl}) {
        const std::string path = dir.write("junk" + std::to_string(files++), damaged);
        std::vector<RecordError> errors;
        std::vector<Spectrum> got;
        ASSERT_NO_THROW(got = read_spectra(path, f, &errors)) << format_name(f);
        for (const Spectrum& s : got) EXPECT_NO_THROW(s.check());
        // No more than one report per line of input (LF, CRLF and CR each end one).
        std::size_t lines = 1;
        for (std::size_t i = 0; i < damaged.size(); ++i) {
          if (damaged[i] == '\n' || (damaged[i] == '\r' && (i + 1 == damaged.size() || damaged[i + 1] != '\n'))) {
            ++lines;
          }
        }
        EXPECT_LE(errors.size() + got.size(), lines);
      }
    }
  }
}

}  // namespace
}  // namespace tessarin::spectra
