#include "batch/library.h"

#include <filesystem>
#include <iostream>

#include "batch/prediction_worker.h"
#include "core/errors.h"
#include "molecule/prepare_molecule.h"
#include "run/molecule_step.h"
#include "run/worker_pool.h"
#include "spectra/writer.h"

namespace tessarin::batch {

namespace {

// Reads the molecules an earlier run already wrote, checking that they are
// the ones its files name.
void skip_resumed(const LibraryRequest& request) {
  const LibraryState& state = request.files->resumed_state();
  std::size_t known = 0;  // position in state.lines
  run::MoleculeInput m;
  for (std::size_t i = 0; i < state.molecules; ++i) {
    if (!request.read(m)) {
      throw ResumeRefused("cannot resume: the output holds " + std::to_string(state.molecules) +
                          " molecules, more than the input");
    }
    if (known < state.lines.size() && state.lines[known] == m.line) {
      ++known;
    } else if (state.every_line_known || (known < state.lines.size() && state.lines[known] < m.line)) {
      throw ResumeRefused("cannot resume: the output does not match the input (its molecule from line " +
                          std::to_string(known < state.lines.size() ? state.lines[known] : m.line) +
                          " is not where the input has it)");
    }
  }
  if (known != state.lines.size()) {
    throw ResumeRefused("cannot resume: the output does not match the input (line " +
                        std::to_string(state.lines[known]) + ")");
  }
}

}  // namespace

void process_molecule(run::Outcome& o, const PredictOptions& options, OutputFormat format,
                      const std::atomic<bool>* cancel, const StepListener& on_step) {
  run::guarded_step(o, options.time_limit_seconds, cancel, [&](const analysis::StopCheck& stop) {
    if (o.input.smiles.empty()) throw InvalidInput("no SMILES");
    const char* last_step = nullptr;
    std::optional<prediction::Prediction> prediction =
        prediction::predict(o.input.smiles, prediction::PredictionOptions{options.model, options.analysis},
                            prediction::Analysis::wanted, [&](std::string_view step) {
                              if (on_step && step.data() != last_step) {
                                last_step = step.data();
                                on_step(step);
                              }
                              stop(step);
                            });
    if (!prediction) throw InvalidInput(molecule::smiles_error(o.input.smiles));
    SpectrumRecord record = make_record(o.input.line, o.input.name, o.input.smiles, std::move(*prediction));
    record.cas = o.input.cas;
    record.id = o.input.id;
    note_options(record, options.analysis);
    o.text = format_record(record, format);
  });
}

std::string errors_path_of(const std::string& output_path) { return output_path + ".errors.tsv"; }

LibraryFiles::LibraryFiles(const std::string& output_path, OutputFormat format, const RunDescription* run, bool resume)
    : format_(format) {
  if (output_path == "-") {
    if (resume) throw ResumeRefused("cannot resume standard output");
    output_ = std::make_unique<core::OutputFile>(output_path);
    output_->write(output_header(format));
    return;
  }
  (void)spectra::writable_format(output_path, spectrum_format(format));  // refuses a name the format cannot have
  errors_path_ = errors_path_of(output_path);
  std::error_code ignored;
  const bool continuing = resume && std::filesystem::exists(output_path, ignored);
  if (continuing) {
    if (run == nullptr) throw ResumeRefused("cannot resume " + output_path + " without the run's description");
    check_run_record(output_path, *run);
    state_ = read_library_state(output_path, format);
    std::error_code error;
    std::filesystem::resize_file(output_path, state_.output_bytes, error);
    if (error) throw std::runtime_error("cannot shorten " + output_path + ": " + error.message());
    if (state_.errors_bytes > 0) {
      std::filesystem::resize_file(errors_path_, state_.errors_bytes, error);
      if (error) throw std::runtime_error("cannot shorten " + errors_path_ + ": " + error.message());
      errors_exist_ = true;
    } else {
      std::filesystem::remove(errors_path_, ignored);
    }
    output_ = std::make_unique<core::OutputFile>(output_path, core::OutputFile::Mode::append);
    if (state_.output_bytes == 0) output_->write(output_header(format));
  } else {
    std::filesystem::remove(errors_path_, ignored);
    output_ = std::make_unique<core::OutputFile>(output_path);
    output_->write(output_header(format));
  }
  output_->flush();
  if (run != nullptr) write_run_record(output_path, *run);
}

void LibraryFiles::write(const run::Outcome& o) {
  if (o.succeeded()) {
    output_->write(o.text);
    output_->flush();
    return;
  }
  const std::string row = error_row(o.input.line, o.input.smiles, o.error);
  if (errors_path_.empty()) {
    if (errors_on_stderr_++ == 0) std::cerr << error_header();
    std::cerr << row;
    return;
  }
  if (!errors_) {
    errors_ = std::make_unique<core::OutputFile>(
        errors_path_, errors_exist_ ? core::OutputFile::Mode::append : core::OutputFile::Mode::create);
    if (!errors_exist_) errors_->write(error_header());
  }
  errors_->write(row);
  errors_->flush();
}

void LibraryFiles::flush() {
  output_->flush();
  if (errors_) errors_->flush();
}

void LibraryFiles::close() {
  output_->close();
  if (errors_) errors_->close();
}

run::BatchSummary predict_library(const LibraryRequest& request) {
  std::atomic<bool> never{false};
  std::atomic<bool>& cancel = request.cancel != nullptr ? *request.cancel : never;
  LibraryFiles* files = request.files;
  // Records for the caller travel as their JSON text.
  const OutputFormat format = files != nullptr ? files->format() : OutputFormat::jsonl;
  const unsigned jobs = run::effective_jobs(request.jobs);

  run::BatchCallbacks cb;
  cb.read = request.read;
  if (files != nullptr) {
    cb.write = [files](run::Outcome& o) { files->write(o); };
  } else {
    cb.write = request.collect;
  }
  cb.progress = request.progress;

  std::unique_ptr<run::WorkerPool> workers;
  run::BatchSummary summary;
  try {
    if (files != nullptr && files->resumed() > 0) skip_resumed(request);
    if (request.workers) {
      workers = std::make_unique<run::WorkerPool>(
          *request.workers, jobs, wire::encode_configure(request.options, format), request.options.time_limit_seconds);
      cb.process_by = [&workers, &cancel](run::Outcome& o, unsigned worker) { workers->analyse(o, worker, cancel); };
    } else {
      run::warm_up();
      cb.process = [&request, format, &cancel](run::Outcome& o) {
        process_molecule(o, request.options, format, &cancel);
      };
    }
    summary = run::run_batch(cb, jobs, cancel);
    if (workers) workers->finish();
    workers.reset();
    if (files != nullptr) files->close();
  } catch (...) {
    workers.reset();  // stops the workers
    if (files != nullptr) {
      try {
        files->close();
      } catch (const std::exception&) {
        // The first failure is the one to report.
      }
    }
    throw;
  }
  return summary;
}

}  // namespace tessarin::batch
