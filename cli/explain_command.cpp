// tessarin explain SPECTRUM --smiles S: which predicted ions explain each
// measured peak. Not built yet: the EI model does not yet say, per peak,
// which ions make it and why.
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "common.h"

namespace tessarin::cli {
namespace {

struct ExplainArguments {
  std::string spectrum;
  std::string smiles;
  std::string plot;
};

}  // namespace

Command add_explain_command(CLI::App& program) {
  auto args = std::make_shared<ExplainArguments>();
  CLI::App* command = add_command(program, "explain",
                                  "Explain the measured peaks of a spectrum by the ions predicted for a structure "
                                  "(not built yet).");
  command->add_option("SPECTRUM", args->spectrum, "measured spectrum file")->required();
  command->add_option("--smiles", args->smiles, "the structure")->type_name("S")->required();
  command->add_option("--plot", args->plot, "annotated mirror plot into this image")->type_name("FILE");
  command->footer(
      "Scores count only the m/z range the measured spectrum covers.\n"
      "exit status: 2 (not built yet)");
  return {command, [] {
            std::cerr << "tessarin: explain is not built yet (the EI model's per-peak explanation is missing)\n";
            return kExitUsage;
          }};
}

}  // namespace tessarin::cli
