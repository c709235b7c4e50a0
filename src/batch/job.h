// A library job: the one description of a run that predicts the spectra of
// many molecules into a spectral library. The command line fills it from its
// arguments, the Python package from its keywords, and a run on a Dask
// cluster hands it to its workers in its JSON form, so that every path runs
// the request that was made, checked once, by one set of rules.
#pragma once

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/library.h"
#include "run/input.h"

namespace tessarin::batch {

// A piece of an input file: `molecules` molecules from a reader position on
// (a cluster's chunk, from chunk_starts).
struct InputPart {
  run::ReaderPosition start;
  std::size_t molecules = 0;
};

// A run spread over a Dask cluster in chunks of the input.
struct ClusterRun {
  std::string scheduler;          // the scheduler's address
  std::size_t chunk_size = 1000;  // molecules per task
  std::string work_dir;           // the shards and their manifest; empty: OUTPUT.shards
};

struct LibraryJob {
  // The molecules: a SMILES, SDF or CSV/TSV file (plain or gzip), "-" for
  // standard input, or empty for molecules the caller hands to the run.
  std::string input;
  std::optional<run::LineRange> lines;  // only the molecules that start on these lines
  std::optional<InputPart> part;        // only these molecules of the file
  std::size_t first_line = 1;           // the line number of the first molecule handed over
  // The records: a file (with OUTPUT.errors.tsv and OUTPUT.run.json beside
  // it), "-" for standard output, or empty for outcomes handed to the caller.
  std::string output;
  OutputFormat format = OutputFormat::msp;
  bool resume = false;     // go on with an output a stopped run left
  bool run_record = true;  // record the run beside the output (OUTPUT.run.json), for a later resume
  PredictOptions predict;
  unsigned jobs = 0;  // worker processes; 0: one per core
  std::optional<ClusterRun> cluster;

  // Throws InvalidInput naming what cannot run: options out of range, an
  // output that would overwrite the input, a resume without an output file,
  // a piece of what is not a file, a cluster run of standard input or onto
  // standard output, or of lines or a resume (a cluster run goes on from its
  // finished chunks by itself).
  void check() const;

  // The job as JSON: every field by name, the kind and version first. The
  // prediction options are those the command line names (ring, recursive,
  // max_generations, model, timeout_per_molecule); the layout's constants
  // keep their defaults.
  nlohmann::ordered_json to_json() const;
  // The job of a JSON object of this version, missing fields at their
  // defaults. Throws InvalidInput for anything else: another kind or
  // version, a field this version does not have, a value of the wrong type.
  // The job is not checked.
  static LibraryJob from_json(const nlohmann::json& value);
};

// The JSON form of a reader position, as a job's "part" holds it.
nlohmann::ordered_json reader_position_json(const run::ReaderPosition& position);

// The output of a cluster run's work directory by default: OUTPUT.shards.
std::string default_work_dir(const std::string& output_path);

// What running a job needs beyond the job.
struct JobHooks {
  // The molecules, for a job without an input file; their lines are
  // counted from job.first_line on (line 1 becomes first_line).
  std::vector<run::MoleculeInput> molecules;
  // Where the molecules are analysed (see LibraryRequest::workers).
  std::optional<run::WorkerCommand> workers;
  // For a job without an output file: every outcome, in input order.
  std::function<void(run::Outcome&)> collect;
  std::function<void(const run::BatchProgress&)> progress;
  std::atomic<bool>* cancel = nullptr;
};

// A job opened for its run: the input and the output files are open (a
// resumed output read), so a caller can look at them before the molecules go.
class LibraryJobRun {
 public:
  // Checks the job (InvalidInput), opens its input (UnusableInput) and its
  // output (ResumeRefused, std::runtime_error: see LibraryFiles).
  LibraryJobRun(const LibraryJob& job, JobHooks hooks);
  ~LibraryJobRun();
  LibraryJobRun(const LibraryJobRun&) = delete;
  LibraryJobRun& operator=(const LibraryJobRun&) = delete;

  // Predicts the molecules (see predict_library). Once.
  run::BatchSummary run();

  const LibraryJob& job() const { return job_; }
  // The files written, when the job has an output.
  const LibraryFiles* files() const { return files_ ? &*files_ : nullptr; }
  // The molecules an earlier run left in the output (--resume).
  std::size_t resumed() const { return files_ ? files_->resumed() : 0; }
  // The molecules of the input read so far.
  std::size_t read() const { return read_; }

 private:
  LibraryJob job_;
  JobHooks hooks_;
  std::unique_ptr<run::MoleculeFile> file_;
  std::unique_ptr<run::MoleculeFile> part_file_;  // a piece of the input file, from its start
  std::optional<LibraryFiles> files_;
  std::size_t next_ = 0;  // the next of hooks_.molecules
  std::size_t read_ = 0;
};

}  // namespace tessarin::batch
