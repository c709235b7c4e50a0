// Shared by the spectrum tests: the fixture folder, temporary files and
// random spectra.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "spectra/spectrum.h"

namespace tessarin::spectra::testing {

// Named by the build (a compiler cache may make __FILE__ relative to the build
// folder, which would tie the tests to being run from there).
inline std::filesystem::path data_dir() { return std::filesystem::path(TESSARIN_TEST_DATA); }

// A directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("tessarin_spectra_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `bytes` to `name` in the directory and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path p = path_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  std::string path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// `text` with every line break (LF, CRLF or CR) made `line_break`.
inline std::string with_line_breaks(const std::string& text, const std::string& line_break) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += line_break;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// `bytes` gzip-compressed into `path`.
inline void write_gzip(const std::string& path, const std::string& bytes) {
  gzFile f = gzopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(gzwrite(f, bytes.data(), static_cast<unsigned>(bytes.size())), static_cast<int>(bytes.size()));
  ASSERT_EQ(gzclose(f), Z_OK);
}

inline std::string file_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Peaks at `n` distinct m/z: integers from 12 to 300 when `integer_mz`, else
// with decimals; intensities on 1..999 with decimals.
inline Spectrum random_spectrum(std::mt19937& rng, std::size_t n, bool integer_mz) {
  std::uniform_real_distribution<double> mz(12, 300);
  std::uniform_real_distribution<double> intensity(1, 999);
  std::vector<double> m;
  std::vector<double> in;
  while (m.size() < n) {
    const double x = integer_mz ? std::floor(mz(rng)) : std::round(mz(rng) * 1e4) / 1e4;
    if (std::find(m.begin(), m.end(), x) != m.end()) continue;
    m.push_back(x);
    in.push_back(std::round(intensity(rng) * 100) / 100);
  }
  return Spectrum::from_peaks(std::move(m), std::move(in));
}

}  // namespace tessarin::spectra::testing
