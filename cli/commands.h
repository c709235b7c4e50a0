// The subcommands of the tessarin program, one source file each. A new
// subcommand is a function of this shape, added to the list in main.cpp.
#pragma once

#include "arguments.h"

namespace tessarin::cli {

Command add_vif_command(CLI::App& program);       // vif_command.cpp
Command add_predict_command(CLI::App& program);   // predict_command.cpp
Command add_validate_command(CLI::App& program);  // validate_command.cpp
Command add_identify_command(CLI::App& program);  // identify_command.cpp
Command add_search_command(CLI::App& program);    // search_command.cpp
Command add_evaluate_command(CLI::App& program);  // evaluate_command.cpp
Command add_convert_command(CLI::App& program);   // convert_command.cpp
Command add_explain_command(CLI::App& program);   // explain_command.cpp

}  // namespace tessarin::cli
