#include "batch/library.h"

#include <RDGeneral/Invariant.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <mutex>

#include "batch/deadline.h"
#include "batch/worker_messages.h"
#include "core/errors.h"

namespace tessarin::batch {

void warm_up() {
  static std::once_flag once;
  std::call_once(once, [] { (void)analysis::analyse_smiles("OC(=O)c1ccccc1C1CC1", analysis::Options{}); });
}

namespace {

// How long past its limit a worker may take before it is stopped: time for
// the analysis to notice the limit itself, and name the step, at a check.
std::chrono::steady_clock::duration hard_limit(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds * 1.05 + 0.2));
}

// One job's worker process, started again after it dies or is stopped.
class WorkerSlot {
 public:
  WorkerSlot(const WorkerCommand& command, std::string configuration, double time_limit)
      : command_(command), configuration_(std::move(configuration)), time_limit_(time_limit) {}

  void start() {
    process_ = std::make_unique<WorkerProcess>(command_);
    if (!process_->send(wire::Type::configure, configuration_)) {
      const std::string how = process_->end_description();
      process_.reset();
      throw std::runtime_error("the worker program " + command_.program + " ended at its start (" + how + ")");
    }
  }

  void analyse(Outcome& o, const std::atomic<bool>& cancel) {
    const std::string request = wire::encode_molecule(o.input);
    bool sent = false;
    for (int attempt = 0; attempt < 2 && !sent; ++attempt) {  // a worker found dead is replaced once
      if (!process_) start();
      sent = process_->send(wire::Type::molecule, request);
      if (!sent) process_.reset();
    }
    if (!sent) {
      o.error = "the worker process ended before it could take the molecule";
      return;
    }
    std::optional<WorkerProcess::Clock::time_point> until;
    if (time_limit_ > 0) until = WorkerProcess::Clock::now() + hard_limit(time_limit_);
    std::string step = "the preparation";
    wire::Frame frame;
    for (;;) {
      switch (process_->receive(frame, until, [&cancel] { return cancel.load(); })) {
        case WorkerProcess::Wait::frame:
          if (frame.type == wire::Type::step) {
            step = wire::PayloadReader(frame.payload).text();
            continue;
          }
          if (frame.type != wire::Type::result) break;
          wire::decode_result(frame.payload, o);
          return;
        case WorkerProcess::Wait::timed_out:
          process_.reset();  // killed
          o.error = time_limit_message(time_limit_, step);
          return;
        case WorkerProcess::Wait::stopped:
          process_.reset();
          o.cancelled = true;
          return;
        case WorkerProcess::Wait::ended: {
          const std::string how = process_->end_description();
          process_.reset();
          o.error = "the worker process died analysing the molecule (" + how + ", in " + step + ")";
          return;
        }
      }
      process_.reset();
      o.error = "the worker process sent an unexpected message";
      return;
    }
  }

  // Lets an idle worker end by itself.
  void finish() {
    if (process_) process_->finish();
    process_.reset();
  }

 private:
  const WorkerCommand& command_;
  std::string configuration_;
  double time_limit_;
  std::unique_ptr<WorkerProcess> process_;
};

// Reads the molecules an earlier run already wrote, checking that they are
// the ones its files name.
void skip_resumed(const LibraryRequest& request) {
  const LibraryState& state = request.files->resumed_state();
  std::size_t known = 0;  // position in state.lines
  MoleculeInput m;
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

void guarded_step(Outcome& o, double time_limit_seconds, const std::atomic<bool>* cancel,
                  const std::function<void(const analysis::StopCheck&)>& work) {
  try {
    const Deadline deadline(time_limit_seconds, cancel);
    if (!o.input.molblock.empty()) resolve_sdf_record(o.input);
    work([&deadline](std::string_view step) { deadline.check(step); });
  } catch (const Cancelled&) {
    o.cancelled = true;
  } catch (const Invar::Invariant& e) {
    o.error = std::string("RDKit rejected the molecule: ") + e.what();
  } catch (const std::exception& e) {
    o.error = *e.what() != '\0' ? e.what() : "unknown failure";
  }
  if (o.cancelled || !o.error.empty()) {
    o.record.reset();
    o.spectrum.reset();
    o.text.clear();
  }
}

void process_molecule(Outcome& o, const PredictOptions& options, std::optional<OutputFormat> format,
                      const std::atomic<bool>* cancel, const StepListener& on_step) {
  guarded_step(o, options.time_limit_seconds, cancel, [&](const analysis::StopCheck& stop) {
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
    if (!prediction) throw InvalidInput("unparsable SMILES");
    o.record = make_record(o.input.line, o.input.name, o.input.smiles, std::move(*prediction));
    o.record->cas = o.input.cas;
    o.record->id = o.input.id;
    note_options(*o.record, options.analysis);
    if (format) o.text = format_record(*o.record, *format);
  });
}

std::string errors_path_of(const std::string& output_path) { return output_path + ".errors.tsv"; }

LibraryFiles::LibraryFiles(const std::string& output_path, OutputFormat format, const RunDescription* run, bool resume)
    : format_(format) {
  if (output_path == "-") {
    if (resume) throw ResumeRefused("cannot resume standard output");
    output_ = std::make_unique<OutputFile>(output_path);
    output_->write(output_header(format));
    return;
  }
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
    output_ = std::make_unique<OutputFile>(output_path, /*append=*/true);
    if (state_.output_bytes == 0) output_->write(output_header(format));
  } else {
    std::filesystem::remove(errors_path_, ignored);
    output_ = std::make_unique<OutputFile>(output_path);
    output_->write(output_header(format));
  }
  output_->flush();
  if (run != nullptr) write_run_record(output_path, *run);
}

void LibraryFiles::write(const Outcome& o) {
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
    errors_ = std::make_unique<OutputFile>(errors_path_, /*append=*/errors_exist_);
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

BatchSummary predict_library(const LibraryRequest& request) {
  std::atomic<bool> never{false};
  std::atomic<bool>& cancel = request.cancel != nullptr ? *request.cancel : never;
  LibraryFiles* files = request.files;
  // Records for the caller travel as their JSON text.
  const OutputFormat format = files != nullptr ? files->format() : OutputFormat::jsonl;
  const unsigned jobs = effective_jobs(request.jobs);

  BatchCallbacks cb;
  cb.read = request.read;
  if (files != nullptr) {
    cb.write = [files](Outcome& o) { files->write(o); };
  } else {
    cb.write = request.collect;
  }
  cb.progress = request.progress;

  std::vector<std::unique_ptr<WorkerSlot>> slots;
  BatchSummary summary;
  try {
    if (files != nullptr && files->resumed() > 0) skip_resumed(request);
    if (request.workers) {
      const std::string configuration = wire::encode_configure(request.options, format);
      for (unsigned i = 0; i < jobs; ++i) {
        slots.push_back(
            std::make_unique<WorkerSlot>(*request.workers, configuration, request.options.time_limit_seconds));
        slots.back()->start();
      }
      cb.process_by = [&slots, &cancel](Outcome& o, unsigned worker) { slots[worker]->analyse(o, cancel); };
    } else {
      warm_up();
      cb.process = [&request, format, &cancel](Outcome& o) { process_molecule(o, request.options, format, &cancel); };
    }
    summary = run_batch(cb, jobs, cancel);
    for (auto& slot : slots) slot->finish();
    slots.clear();
    if (files != nullptr) files->close();
  } catch (...) {
    slots.clear();  // stops the workers
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
