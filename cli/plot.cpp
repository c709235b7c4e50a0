#include "plot.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "spectra/writer.h"

extern char** environ;

namespace tessarin::cli {
namespace {

std::string number_text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

// A temporary file removed when the object goes.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& contents) {
    std::string pattern = "/tmp/tessarin_plot_XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error(std::string("cannot create a temporary file: ") + std::strerror(errno));
    path_ = pattern;
    std::size_t done = 0;
    while (done < contents.size()) {
      const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int error = errno;
        ::close(fd);
        throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(error));
      }
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }
  ~TemporaryFile() { ::unlink(path_.c_str()); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

void draw_mirror_plots(const spectra::Spectrum& measured, const std::vector<spectra::Spectrum>& predicted,
                       const spectra::SimilarityOptions& score, const std::string& path, bool annotate) {
  std::string records = spectra::jsonl_record(measured);
  for (const spectra::Spectrum& s : predicted) records += spectra::jsonl_record(s);
  const TemporaryFile input(records);

  const char* chosen = std::getenv("TESSARIN_PYTHON");
  const std::string python = chosen != nullptr && *chosen != '\0' ? chosen : TESSARIN_PLOT_PYTHON;
  std::vector<std::string> args = {python,
                                   "-m",
                                   "tessarin.figures.mirror_file",
                                   input.path(),
                                   path,
                                   "--method",
                                   std::string(spectra::method_name(score.method)),
                                   "--tolerance",
                                   number_text(score.tolerance),
                                   "--mz-power",
                                   number_text(score.mz_power_or_default()),
                                   "--intensity-power",
                                   number_text(score.intensity_power_or_default())};
  if (score.reverse) args.emplace_back("--reverse");
  if (annotate) args.emplace_back("--annotate");
  if (!score.measured_range) args.emplace_back("--full-range");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The package's own directory comes first, and figures are drawn off-screen.
  std::vector<std::string> env_text;
  const char* old_path = std::getenv("PYTHONPATH");
  env_text.push_back(std::string("PYTHONPATH=") + TESSARIN_PACKAGE_ROOT +
                     (old_path != nullptr && *old_path != '\0' ? std::string(":") + old_path : std::string()));
  env_text.emplace_back("MPLBACKEND=Agg");
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "PYTHONPATH=", 11) != 0 && std::strncmp(*e, "MPLBACKEND=", 11) != 0) env_text.emplace_back(*e);
  }
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);

  pid_t child = 0;
  const int started = ::posix_spawnp(&child, python.c_str(), nullptr, nullptr, argv.data(), env.data());
  if (started != 0) throw std::runtime_error("cannot run " + python + " to draw the plot: " + std::strerror(started));
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("waiting for the plot: ") + std::strerror(errno));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the plot was not drawn (" + python + " -m tessarin.figures.mirror_file failed)");
  }
}

bool mirror_plots_drawn(const spectra::Spectrum& measured, const std::vector<spectra::Spectrum>& predicted,
                        const spectra::SimilarityOptions& score, const std::string& path, bool annotate) {
  try {
    draw_mirror_plots(measured, predicted, score, path, annotate);
    return true;
  } catch (const std::exception& e) {
    std::cerr << "tessarin: " << e.what() << '\n';
    return false;
  }
}

}  // namespace tessarin::cli
