#include "batch/job.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>

#include "core/errors.h"
#include "tessarin/version.h"

namespace tessarin::batch {
namespace {

using json = nlohmann::ordered_json;

constexpr const char* kKind = "tessarin library job";
constexpr int kJobVersion = 1;
constexpr int kMaxGenerations = 1000;
constexpr unsigned kMaxJobs = 1024;

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool is_file(const std::string& path) { return !path.empty() && path != "-"; }

json optional_text(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json optional_number(const std::optional<std::size_t>& n) { return n ? json(*n) : json(nullptr); }

// Reading the JSON form: each field's type checked, its name in the message.
class Fields {
 public:
  explicit Fields(const nlohmann::json& object, std::string where) : object_(object), where_(std::move(where)) {
    if (!object.is_object()) throw InvalidInput(where_ + " must be a JSON object");
  }

  const nlohmann::json* find(const char* key) {
    seen_.insert(key);
    const auto it = object_.find(key);
    return it == object_.end() || it->is_null() ? nullptr : &*it;
  }

  std::string text(const char* key, std::string fallback = {}) {
    const nlohmann::json* v = find(key);
    if (v == nullptr) return fallback;
    if (!v->is_string()) fail(key, "a string");
    return v->get<std::string>();
  }

  bool flag(const char* key, bool fallback) {
    const nlohmann::json* v = find(key);
    if (v == nullptr) return fallback;
    if (!v->is_boolean()) fail(key, "true or false");
    return v->get<bool>();
  }

  std::optional<std::uint64_t> whole(const char* key) {
    const nlohmann::json* v = find(key);
    if (v == nullptr) return std::nullopt;
    return whole_number(*v, key);
  }

  double number(const char* key, double fallback) {
    const nlohmann::json* v = find(key);
    if (v == nullptr) return fallback;
    if (!v->is_number()) fail(key, "a number");
    return v->get<double>();
  }

  std::uint64_t whole_number(const nlohmann::json& v, const char* key) {
    if (!v.is_number_integer() || (!v.is_number_unsigned() && v.get<std::int64_t>() < 0)) {
      fail(key, "a whole number >= 0");
    }
    return v.get<std::uint64_t>();
  }

  // Refuses the fields of another version (or a misspelt one).
  void no_others() const {
    for (const auto& [key, value] : object_.items()) {
      if (!seen_.contains(key)) throw InvalidInput(where_ + " has no field \"" + key + "\"");
    }
  }

  [[noreturn]] void fail(const char* key, const char* what) const {
    throw InvalidInput(where_ + ": \"" + std::string(key) + "\" must be " + what);
  }

 private:
  const nlohmann::json& object_;
  std::string where_;
  std::set<std::string> seen_;
};

run::ReaderPosition position_of(const nlohmann::json& value) {
  Fields f(value, "a library job's part start");
  run::ReaderPosition p;
  p.offset = f.whole("offset").value_or(0);
  p.line = static_cast<std::size_t>(f.whole("line").value_or(0));
  p.seen_content = f.flag("seen_content", false);
  p.header_read = f.flag("header_read", false);
  p.smiles_column = f.whole("smiles_column");
  p.name_column = f.whole("name_column");
  p.id_column = f.whole("id_column");
  p.cas_column = f.whole("cas_column");
  f.no_others();
  return p;
}

}  // namespace

json reader_position_json(const run::ReaderPosition& p) {
  return json{{"offset", p.offset},
              {"line", p.line},
              {"seen_content", p.seen_content},
              {"header_read", p.header_read},
              {"smiles_column", optional_number(p.smiles_column)},
              {"name_column", optional_number(p.name_column)},
              {"id_column", optional_number(p.id_column)},
              {"cas_column", optional_number(p.cas_column)}};
}

std::string default_work_dir(const std::string& output_path) { return output_path + ".shards"; }

void LibraryJob::check() const {
  analysis::check_options(predict.analysis);
  if (predict.analysis.max_generations < 0 || predict.analysis.max_generations > kMaxGenerations) {
    throw InvalidInput("max_generations must be a whole number from 0 to " + std::to_string(kMaxGenerations) +
                       ", not " + std::to_string(predict.analysis.max_generations));
  }
  if (!std::isfinite(predict.time_limit_seconds) || predict.time_limit_seconds < 0) {
    throw InvalidInput("the time limit per molecule must be a number of seconds >= 0");
  }
  if (jobs > kMaxJobs) throw InvalidInput("jobs must be a whole number from 1 to 1024, not " + std::to_string(jobs));
  if (lines && (lines->first == 0 || lines->last < lines->first)) {
    throw InvalidInput("the lines must run from a first line >= 1 to a last line >= the first");
  }
  if (first_line == 0) throw InvalidInput("first_line must be at least 1");
  if (first_line != 1 && !input.empty()) throw InvalidInput("first_line is for molecules handed over, not for a file");
  if (part) {
    if (!is_file(input)) throw InvalidInput("a part of the input needs an input file");
    if (lines) throw InvalidInput("a part of the input cannot also take lines");
    if (resume) throw InvalidInput("a part of the input cannot be resumed");
  }
  if (resume && !is_file(output)) throw InvalidInput("resuming needs an output file, not standard output");
  if (is_file(input) && is_file(output) &&
      (same_file(input, output) || same_file(input, errors_path_of(output)) ||
       same_file(input, run_record_path_of(output)))) {
    throw InvalidInput("the output would overwrite the input " + input);
  }
  if (cluster) {
    if (cluster->scheduler.empty()) throw InvalidInput("a cluster run needs the scheduler's address");
    if (cluster->chunk_size == 0) throw InvalidInput("the chunk size must be a whole number >= 1");
    if (input == "-") throw InvalidInput("standard input cannot be split among workers; give a file");
    if (!is_file(input)) throw InvalidInput("a cluster run needs an input file");
    if (!is_file(output)) throw InvalidInput("with a scheduler the output must be a file");
    if (lines || part) throw InvalidInput("a cluster run takes the whole input, not some of its lines");
    if (resume) {
      throw InvalidInput("a cluster run goes on from its finished chunks when run again; it takes no resume");
    }
  }
}

json LibraryJob::to_json() const {
  json out{{"kind", kKind}, {"version", kJobVersion}, {"input", optional_text(input)}};
  out["lines"] =
      lines ? json::array({lines->first, lines->last == run::LineRange{}.last ? json(nullptr) : json(lines->last)})
            : json(nullptr);
  out["part"] =
      part ? json{{"start", reader_position_json(part->start)}, {"molecules", part->molecules}} : json(nullptr);
  out["first_line"] = first_line;
  out["output"] = optional_text(output);
  out["format"] = std::string(output_format_name(format));
  out["resume"] = resume;
  out["run_record"] = run_record;
  out["model"] = prediction::model_name(predict.model);
  out["ring"] = predict.analysis.ring_fragmentation;
  out["recursive"] = predict.analysis.recursive;
  out["max_generations"] = predict.analysis.max_generations;
  out["timeout_per_molecule"] = predict.time_limit_seconds;
  out["jobs"] = jobs == 0 ? json(nullptr) : json(jobs);
  out["cluster"] = cluster ? json{{"scheduler", cluster->scheduler},
                                  {"chunk_size", cluster->chunk_size},
                                  {"work_dir", optional_text(cluster->work_dir)}}
                           : json(nullptr);
  return out;
}

LibraryJob LibraryJob::from_json(const nlohmann::json& value) {
  Fields f(value, "a library job");
  if (f.text("kind") != kKind)
    throw InvalidInput("not a library job (its \"kind\" is not \"" + std::string(kKind) + "\")");
  const nlohmann::json* version = f.find("version");
  if (version == nullptr || !version->is_number_integer() || version->get<long long>() != kJobVersion) {
    throw InvalidInput("a library job of another version (this program reads version " + std::to_string(kJobVersion) +
                       "): " + (version ? version->dump() : std::string("none")));
  }
  LibraryJob job;
  job.input = f.text("input");
  if (const nlohmann::json* l = f.find("lines")) {
    if (!l->is_array() || l->size() != 2) f.fail("lines", "null or [first, last] (last null for the end)");
    run::LineRange range;
    range.first = static_cast<std::size_t>(f.whole_number((*l)[0], "lines"));
    if (!(*l)[1].is_null()) range.last = static_cast<std::size_t>(f.whole_number((*l)[1], "lines"));
    job.lines = range;
  }
  if (const nlohmann::json* p = f.find("part")) {
    Fields part(*p, "a library job's part");
    InputPart piece;
    const nlohmann::json* start = part.find("start");
    if (start == nullptr) part.fail("start", "a reader position");
    piece.start = position_of(*start);
    piece.molecules = static_cast<std::size_t>(part.whole("molecules").value_or(0));
    part.no_others();
    job.part = piece;
  }
  job.first_line = static_cast<std::size_t>(f.whole("first_line").value_or(1));
  job.output = f.text("output");
  const std::string format = f.text("format", "msp");
  const std::optional<OutputFormat> known_format = output_format_named(format);
  if (!known_format) f.fail("format", "\"msp\", \"jsonl\", \"csv\" or \"mgf\"");
  job.format = *known_format;
  job.resume = f.flag("resume", false);
  job.run_record = f.flag("run_record", true);
  const std::string model = f.text("model", "schematic");
  const std::optional<prediction::Model> known_model = prediction::model_named(model);
  if (!known_model) f.fail("model", "the name of a spectrum model (\"schematic\" or \"ei\")");
  job.predict.model = *known_model;
  job.predict.analysis.ring_fragmentation = f.flag("ring", false);
  job.predict.analysis.recursive = f.flag("recursive", false);
  if (const std::optional<std::uint64_t> g = f.whole("max_generations")) {
    if (*g > static_cast<std::uint64_t>(kMaxGenerations)) f.fail("max_generations", "a whole number from 0 to 1000");
    job.predict.analysis.max_generations = static_cast<int>(*g);
  }
  job.predict.time_limit_seconds = f.number("timeout_per_molecule", 0.0);
  if (const std::optional<std::uint64_t> j = f.whole("jobs")) {
    if (*j == 0 || *j > kMaxJobs) f.fail("jobs", "null or a whole number from 1 to 1024");
    job.jobs = static_cast<unsigned>(*j);
  }
  if (const nlohmann::json* c = f.find("cluster")) {
    Fields cluster(*c, "a library job's cluster");
    ClusterRun run;
    run.scheduler = cluster.text("scheduler");
    run.chunk_size = static_cast<std::size_t>(cluster.whole("chunk_size").value_or(1000));
    run.work_dir = cluster.text("work_dir");
    cluster.no_others();
    job.cluster = run;
  }
  f.no_others();
  return job;
}

LibraryJobRun::LibraryJobRun(const LibraryJob& job, JobHooks hooks) : job_(job), hooks_(std::move(hooks)) {
  job_.check();
  RunDescription run;
  run.program = std::string("tessarin ") + kVersion;
  if (job_.part) {
    part_file_ = std::make_unique<run::MoleculeFile>(job_.input, job_.part->start);
  } else if (!job_.input.empty()) {
    file_ = std::make_unique<run::MoleculeFile>(job_.input);
    if (job_.lines) file_->reader().set_line_range(*job_.lines);
    describe_input_file(run, job_.input);
  } else {
    for (run::MoleculeInput& m : hooks_.molecules) m.line += job_.first_line - 1;
    if (job_.lines) {
      std::erase_if(hooks_.molecules, [this](const run::MoleculeInput& m) { return !job_.lines->contains(m.line); });
    }
    run.input = "molecules given in Python";
  }
  run.lines = job_.lines;
  run.format = job_.format;
  run.options = job_.predict.analysis;
  run.model = job_.predict.model;
  if (!job_.output.empty()) files_.emplace(job_.output, job_.format, job_.run_record ? &run : nullptr, job_.resume);
}

LibraryJobRun::~LibraryJobRun() = default;

run::BatchSummary LibraryJobRun::run() {
  LibraryRequest request;
  request.options = job_.predict;
  request.jobs = job_.jobs;
  if (part_file_) {
    const std::size_t count = job_.part->molecules;
    request.read = [this, count](run::MoleculeInput& m) {
      if (read_ == count || !part_file_->reader().next(m)) return false;
      ++read_;
      return true;
    };
  } else if (file_) {
    request.read = [this](run::MoleculeInput& m) {
      if (!file_->next(m)) return false;
      ++read_;
      return true;
    };
  } else {
    request.read = [this](run::MoleculeInput& m) {
      if (next_ >= hooks_.molecules.size()) return false;
      m = std::move(hooks_.molecules[next_++]);
      ++read_;
      return true;
    };
  }
  request.files = files_ ? &*files_ : nullptr;
  request.collect = hooks_.collect;
  request.progress = hooks_.progress;
  request.cancel = hooks_.cancel;
  request.workers = hooks_.workers;
  return predict_library(request);
}

}  // namespace tessarin::batch
