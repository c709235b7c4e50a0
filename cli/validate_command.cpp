// tessarin validate: the validation suite against the reference tables.
#include <iostream>

#include "commands.h"
#include "common.h"
#include "validation/reference_tables.h"
#include "validation/validation_suite.h"

namespace tessarin::cli {

Command add_validate_command(CLI::App& program) {
  CLI::App* command = add_command(program, "validate", "Run the validation suite.");
  command->footer("exit status: 0 every row passes, 1 some row fails");
  return {command, [] {
            const bool ok =
                validation::run_validation(validation::kLpiReferences, validation::kMsReferences, true, std::cout);
            std::cout.flush();
            return ok ? kExitOk : kExitFailed;
          }};
}

}  // namespace tessarin::cli
