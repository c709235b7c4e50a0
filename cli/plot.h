// The mirror plots of `tessarin identify --plot`. The figures of tessarin
// are drawn with Matplotlib through the Python package, so this one is too:
// the spectra go to a temporary JSON Lines file and the package draws them
// (python -m tessarin.figures.mirror_file). The interpreter is $TESSARIN_PYTHON,
// else the one the program was built with.
#pragma once

#include <string>
#include <vector>

#include "spectra/similarity.h"
#include "spectra/spectrum.h"

namespace tessarin::cli {

// One mirror plot of `measured` against each of `predicted`, stacked, into
// the image file `path` (its extension gives the format). Throws
// std::runtime_error when it cannot be drawn. `annotate` names the ions of the
// measured peaks the prediction explains.
void draw_mirror_plots(const spectra::Spectrum& measured, const std::vector<spectra::Spectrum>& predicted,
                       const spectra::SimilarityOptions& score, const std::string& path, bool annotate = false);

// draw_mirror_plots, a failure told on standard error ("tessarin: why"):
// whether the plot was drawn.
bool mirror_plots_drawn(const spectra::Spectrum& measured, const std::vector<spectra::Spectrum>& predicted,
                        const spectra::SimilarityOptions& score, const std::string& path, bool annotate = false);

}  // namespace tessarin::cli
