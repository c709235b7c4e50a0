// tessarin-worker: the Python package's batch worker program, started by the
// extension with the worker argument and served by the engine's worker loop.
#include <iostream>
#include <string_view>

#include "batch/prediction_worker.h"
#include "run/worker_main.h"

int main(int argc, char** argv) {
  if (argc < 2 || std::string_view(argv[1]) != tessarin::run::kWorkerArgument) {
    std::cerr << "tessarin-worker: started by the tessarin package for its batch runs, not by hand\n";
    return 2;
  }
  return tessarin::batch::serve_prediction_worker(argc - 2, argv + 2);
}
