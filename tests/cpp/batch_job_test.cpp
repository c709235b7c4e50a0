// The library job: its JSON form carries every field a run depends on, and
// its checks refuse what would destroy data or cannot run.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "batch/job.h"
#include "core/errors.h"

namespace tessarin::batch {
namespace {

using run::LineRange;

LibraryJob every_field_set() {
  LibraryJob job;
  job.input = "/data/in.csv";
  job.part = InputPart{{1234, 17, true, true, 2, std::nullopt, 0, 5}, 40};
  job.output = "/data/out.jsonl";
  job.format = OutputFormat::jsonl;
  job.run_record = false;
  job.predict.model = prediction::Model::ei;
  job.predict.analysis.ring_fragmentation = true;
  job.predict.analysis.recursive = true;
  job.predict.analysis.max_generations = 3;
  job.predict.time_limit_seconds = 0.1;  // not exact in binary: must come back the same
  job.jobs = 7;
  return job;
}

// What decides a run's output, field by field (the layout constants are not part of the form).
void expect_same_run(const LibraryJob& a, const LibraryJob& b) {
  EXPECT_EQ(a.input, b.input);
  EXPECT_EQ(a.lines.has_value(), b.lines.has_value());
  if (a.lines && b.lines) {
    EXPECT_EQ(std::pair(a.lines->first, a.lines->last), std::pair(b.lines->first, b.lines->last));
  }
  ASSERT_EQ(a.part.has_value(), b.part.has_value());
  if (a.part) {
    EXPECT_EQ(reader_position_json(a.part->start), reader_position_json(b.part->start));
    EXPECT_EQ(a.part->molecules, b.part->molecules);
  }
  EXPECT_EQ(a.first_line, b.first_line);
  EXPECT_EQ(a.output, b.output);
  EXPECT_EQ(a.format, b.format);
  EXPECT_EQ(a.resume, b.resume);
  EXPECT_EQ(a.run_record, b.run_record);
  EXPECT_EQ(a.predict.model, b.predict.model);
  EXPECT_EQ(a.predict.analysis.ring_fragmentation, b.predict.analysis.ring_fragmentation);
  EXPECT_EQ(a.predict.analysis.recursive, b.predict.analysis.recursive);
  EXPECT_EQ(a.predict.analysis.max_generations, b.predict.analysis.max_generations);
  EXPECT_EQ(a.predict.time_limit_seconds, b.predict.time_limit_seconds);
  EXPECT_EQ(a.jobs, b.jobs);
  ASSERT_EQ(a.cluster.has_value(), b.cluster.has_value());
  if (a.cluster) {
    EXPECT_EQ(a.cluster->scheduler, b.cluster->scheduler);
    EXPECT_EQ(a.cluster->chunk_size, b.cluster->chunk_size);
    EXPECT_EQ(a.cluster->work_dir, b.cluster->work_dir);
  }
}

TEST(LibraryJob, TheJsonFormCarriesEveryFieldThroughTextAndRefusesWhatItDoesNotKnow) {
  LibraryJob cluster;
  cluster.input = "in.smi";
  cluster.output = "out.msp";
  cluster.lines = LineRange{3, 9};
  cluster.first_line = 1;
  cluster.cluster = ClusterRun{"tcp://10.0.0.1:8786", 250, "shards"};
  for (const LibraryJob& job : {every_field_set(), cluster, LibraryJob{}}) {
    const std::string text = job.to_json().dump();
    expect_same_run(job, LibraryJob::from_json(nlohmann::json::parse(text)));
  }
  // Fields left out take their defaults; the defaults are the command's.
  const LibraryJob minimal = LibraryJob::from_json({{"kind", "tessarin library job"}, {"version", 1}});
  expect_same_run(minimal, LibraryJob{});

  nlohmann::json form = every_field_set().to_json();
  const auto refused = [](nlohmann::json value, const std::string& words) {
    try {
      (void)LibraryJob::from_json(value);
      ADD_FAILURE() << "accepted " << value.dump();
    } catch (const InvalidInput& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what() << " lacks " << words;
    }
  };
  refused(nlohmann::json::array({form}), "JSON object");
  nlohmann::json other = form;
  other["version"] = 2;
  refused(other, "another version");
  other = form;
  other["rings"] = true;  // misspelt: never silently a default
  refused(other, "no field \"rings\"");
  other = form;
  other["max_generations"] = -1;
  refused(other, "\"max_generations\"");
  other = form;
  other["format"] = "sdf";
  refused(other, "\"format\"");
  other = form;
  other["part"]["start"]["offset"] = "12";
  refused(other, "\"offset\"");
  other = form;
  other.erase("kind");
  refused(other, "not a library job");
}

TEST(LibraryJob, ChecksRefuseAnOutputOverTheInputAndRunsThatCannotBeSplit) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tessarin_job_test";
  std::filesystem::create_directories(dir);
  const std::string input = (dir / "in.smi").string();
  std::ofstream(input) << "CCO ethanol\n";
  const auto message = [](const LibraryJob& job) -> std::string {
    try {
      job.check();
      return "";
    } catch (const InvalidInput& e) {
      return e.what();
    }
  };
  LibraryJob job;
  job.input = input;
  job.output = (dir / "out.msp").string();
  EXPECT_EQ(message(job), "");
  for (const std::string& over : {input, (dir / "." / "in.smi").string()}) {
    LibraryJob j = job;
    j.output = over;
    EXPECT_NE(message(j).find("overwrite the input"), std::string::npos) << over;
  }
  LibraryJob errors_over_input = job;  // OUTPUT.errors.tsv would be the input
  std::filesystem::rename(input, dir / "x.msp.errors.tsv");
  errors_over_input.input = (dir / "x.msp.errors.tsv").string();
  errors_over_input.output = (dir / "x.msp").string();
  EXPECT_NE(message(errors_over_input).find("overwrite the input"), std::string::npos);
  std::filesystem::rename(dir / "x.msp.errors.tsv", input);

  LibraryJob resumed = job;
  resumed.resume = true;
  resumed.output = std::string(1, '-');
  EXPECT_NE(message(resumed).find("output file"), std::string::npos);

  LibraryJob cluster = job;
  cluster.cluster = ClusterRun{"tcp://127.0.0.1:8786", 100, ""};
  EXPECT_EQ(message(cluster), "");
  const std::string standard_stream(1, '-');
  const std::vector<std::function<void(LibraryJob&)>> changes = {
      [&](LibraryJob& j) { j.input = standard_stream; }, [&](LibraryJob& j) { j.output = standard_stream; },
      [](LibraryJob& j) {
        j.lines = LineRange{1, 5};
      },
      [](LibraryJob& j) { j.resume = true; }, [](LibraryJob& j) { j.cluster->chunk_size = 0; }};
  for (const auto& change : changes) {
    LibraryJob j = cluster;
    change(j);
    EXPECT_NE(message(j), "") << j.to_json().dump();
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tessarin::batch
