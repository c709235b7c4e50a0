// A mass spectrum as data: peaks sorted by m/z, what each peak is known to be,
// and the record's metadata.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessarin::spectra {

// Metadata keys every reader fills and every writer maps to the field of its
// format (MSP "MW", MGF "PEPMASS", ...). Other fields keep the name they have
// in the source file.
namespace keys {
inline constexpr std::string_view name = "name";
inline constexpr std::string_view synonyms = "synonyms";  // one per line
inline constexpr std::string_view smiles = "smiles";
inline constexpr std::string_view formula = "formula";
inline constexpr std::string_view mol_mass = "mol_mass";  // molecular mass as the source gives it (MSP MW)
inline constexpr std::string_view exact_mass = "exact_mass";
inline constexpr std::string_view precursor_mz = "precursor_mz";
inline constexpr std::string_view precursor_intensity = "precursor_intensity";
inline constexpr std::string_view instrument = "instrument";  // instrument type, e.g. "GC-EI-TOF"
inline constexpr std::string_view accession = "accession";
inline constexpr std::string_view comments = "comments";
// The m/z range the instrument scanned, "LOW-HIGH" (e.g. "40-500").
inline constexpr std::string_view scan_range = "scan_range";
}  // namespace keys

// Ordered text fields with unique keys. A field that a file repeats (several
// MSP "Synon:" lines, MassBank "COMMENT:" lines) is one entry whose value has
// one line per repeat; writers give each line its own field again.
class Metadata {
 public:
  using Entry = std::pair<std::string, std::string>;

  Metadata() = default;
  Metadata(std::initializer_list<Entry> entries);

  const std::vector<Entry>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // The value of `key`, or nullptr / "" when the key is absent.
  const std::string* find(std::string_view key) const;
  std::string get(std::string_view key) const;
  bool contains(std::string_view key) const { return find(key) != nullptr; }

  // The value read as a number (surrounding blanks allowed); nothing when the
  // key is absent or its value is not a finite number.
  std::optional<double> number(std::string_view key) const;

  // Replaces the value of `key` in place, or adds the key at the end.
  void set(std::string_view key, std::string value);
  // Adds `line` as a new line of `key`'s value, or adds the key at the end.
  void append(std::string_view key, std::string_view line);
  // Removes `key`; false when it was absent.
  bool erase(std::string_view key);

  // Same keys with the same values, in any order.
  bool operator==(const Metadata& other) const;

 private:
  std::vector<Entry> entries_;
};

// Peaks as parallel arrays. The readers and `from_peaks` give peaks sorted by
// m/z ascending (peaks of equal m/z keep their order), every m/z and
// intensity finite and non-negative, and one annotation list per peak (empty
// when nothing is known; a peak shared by several ions lists each formula).
// The fields are public so that hosts can fill them; `check` tells whether an
// object so filled keeps these rules, and the scores, search and writers
// refuse one that does not.
struct Spectrum {
  std::vector<double> mz;
  std::vector<double> intensities;
  std::vector<std::vector<std::string>> annotations;
  Metadata metadata;

  // Peaks in any order, sorted here (stable); `annotations` may be empty (no
  // annotations) or have one list per peak. Throws InvalidInput when the
  // arrays differ in length or a value is negative, NaN or infinite.
  static Spectrum from_peaks(std::vector<double> mz, std::vector<double> intensities,
                             std::vector<std::vector<std::string>> annotations = {}, Metadata metadata = {});

  std::size_t size() const { return mz.size(); }
  bool empty() const { return mz.empty(); }

  // Throws InvalidInput naming the first broken rule (lengths, values, order).
  void check() const;

  // Sorts the peaks by m/z, keeping the order of equal m/z and each peak's
  // intensity and annotations.
  void sort_peaks();

  // Index of the most intense peak (the lowest m/z among equals); nothing
  // for a spectrum without peaks.
  std::optional<std::size_t> base_peak() const;
  double max_intensity() const;  // 0 for a spectrum without peaks

  // A copy whose intensities are scaled so that the base peak is `scale`
  // (1 or the libraries' 999). A spectrum without peaks or with only zero
  // intensities is returned unchanged.
  Spectrum normalized(double scale = 1.0) const;

  // The molecular mass used to compare molecules: mol_mass, else exact_mass,
  // else precursor_mz; nothing when none of them is a number.
  std::optional<double> molecular_mass() const;

  std::string name() const { return metadata.get(keys::name); }

  bool operator==(const Spectrum& other) const = default;
};

}  // namespace tessarin::spectra
