#include "spectra/writer.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "core/errors.h"

namespace tessarin::spectra {

std::string format_record(const Spectrum& spectrum, Format format) {
  switch (format) {
    case Format::msp:
      return msp_record(spectrum);
    case Format::mgf:
      return mgf_record(spectrum);
    case Format::jsonl:
      return jsonl_record(spectrum);
    case Format::massbank:
    case Format::jcamp:
      break;
  }
  throw InvalidInput("spectra are written as msp, mgf or jsonl, not " + std::string(format_name(format)));
}

SpectrumWriter::SpectrumWriter(std::string path, std::optional<Format> format) : path_(std::move(path)) {
  if (!format) format = format_from_extension(path_);
  if (!format || (*format != Format::msp && *format != Format::mgf && *format != Format::jsonl)) {
    throw InvalidInput("cannot write spectra to " + path_ + ": name it .msp, .mgf or .jsonl or give the format");
  }
  format_ = *format;
  if (path_ == "-") {
    file_ = stdout;
    return;
  }
  file_ = std::fopen(path_.c_str(), "wb");
  if (!file_) fail("cannot create");
  owned_ = true;
}

SpectrumWriter::~SpectrumWriter() {
  if (owned_ && file_) std::fclose(file_);
}

void SpectrumWriter::write(const Spectrum& spectrum) {
  if (!file_) throw std::runtime_error("cannot write " + path_ + ": the file is closed");
  const std::string record = format_record(spectrum, format_);
  if (std::fwrite(record.data(), 1, record.size(), file_) != record.size()) fail("cannot write");
}

void SpectrumWriter::close() {
  if (!file_) return;
  std::FILE* f = file_;
  file_ = nullptr;
  if (!owned_) {
    if (std::fflush(f) != 0) fail("cannot write");
    return;
  }
  const bool flushed = std::fflush(f) == 0;
  const int flush_errno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!flushed) {
    errno = flush_errno;
    fail("cannot write");
  }
  if (!closed) fail("cannot close");
}

void SpectrumWriter::fail(const char* what) const {
  throw std::runtime_error(std::string(what) + " " + path_ + ": " + std::strerror(errno));
}

void write_spectra(const std::string& path, std::span<const Spectrum> spectra, std::optional<Format> format) {
  SpectrumWriter writer(path, format);
  for (const Spectrum& s : spectra) writer.write(s);
  writer.close();
}

}  // namespace tessarin::spectra
