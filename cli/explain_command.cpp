// tessarin explain SPECTRUM --smiles S: each measured peak with the ions the
// EI model predicts for the structure at its m/z and the model's reasons,
// the share of the measured intensity explained, the strong peaks nothing
// explains, and an annotated mirror plot.
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "common.h"
#include "core/errors.h"
#include "core/number_format.h"
#include "identify/explain.h"
#include "plot.h"
#include "table_output.h"

namespace tessarin::cli {
namespace {

struct ExplainArguments {
  SpectrumChoice spectrum;
  std::string smiles;
  std::string output = "-";
  std::string plot;
  bool full_range = false;
};

std::string field(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// An m/z without a trailing ".0".
std::string mz_text(double mz) {
  std::string text = core::float_repr(mz);
  if (text.size() > 2 && text.ends_with(".0")) text.resize(text.size() - 2);
  return text;
}

// "C6H4Cl2O (M)", "C6H4Cl2O+2 (M)", "C6H3Cl2 (M-OH) 80 %": the ion, its
// isotope peak, what the molecule lost, its share when the peak has several.
std::string ion_text(const identify::IonAtPeak& ion, bool several) {
  std::string text = ion.formula;
  if (ion.isotope_offset > 0) text += "+" + std::to_string(ion.isotope_offset);
  if (ion.molecular) {
    text += ion.hydrogen_shift < 0
                ? " (M-H" + (ion.hydrogen_shift < -1 ? std::to_string(-ion.hydrogen_shift) : "") + ")"
                : std::string(" (M)");
  } else if (!ion.neutral.empty()) {
    text += " (M-" + ion.neutral + ")";
  }
  if (several) text += " " + core::format_fixed(100 * ion.share, 0) + " %";
  return text;
}

int run_explain(const ExplainArguments& args) {
  if (!args.plot.empty()) check_output_path("--plot", args.plot);
  const spectra::Spectrum measured = read_record(args.spectrum.path, args.spectrum.record);
  identify::ExplainOptions options;
  options.score.measured_range = !args.full_range;
  identify::PeakExplanation why;
  try {
    why = identify::explain_peaks(measured, args.smiles, options);
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  TableOutput out(args.output, "line\tsmiles\treason\n");
  out.write("mz\tintensity\tpredicted\tions\treasons\n");
  for (const identify::ExplainedPeak& p : why.peaks) {
    std::string ions;
    for (const identify::IonAtPeak& ion : p.ions) ions += (ions.empty() ? "" : "; ") + ion_text(ion, p.ions.size() > 1);
    std::string reasons;
    if (!p.ions.empty()) {
      for (const std::string& r : p.ions.front().reasons) reasons += (reasons.empty() ? "" : ", ") + r;
    }
    out.write(mz_text(p.mz) + "\t" + core::format_fixed(p.relative, 1) + "\t" +
              (p.predicted_mz > 0 ? core::format_fixed(p.predicted_relative, 1) : std::string()) + "\t" + field(ions) +
              "\t" + field(reasons) + "\n");
  }
  out.close();
  std::cerr << "tessarin: explained " << core::format_fixed(100 * why.explained_share, 1)
            << " % of the measured intensity; score " << core::format_fixed(why.score, 4) << " ("
            << (args.full_range ? "every predicted peak" : "the measured m/z range") << ")\n";
  std::cerr << "tessarin: strong peaks nothing explains:";
  if (why.unexplained_strong.empty()) std::cerr << " none";
  for (std::size_t k = 0; k < why.unexplained_strong.size(); ++k) {
    const identify::ExplainedPeak& p = why.peaks[why.unexplained_strong[k]];
    std::cerr << (k ? ", " : " ") << "m/z " << mz_text(p.mz) << " (" << core::format_fixed(p.relative, 1) << " %)";
  }
  std::cerr << '\n';
  if (!args.plot.empty()) {
    spectra::Spectrum predicted = why.predicted;
    predicted.metadata.set(spectra::keys::name, args.smiles);
    if (!mirror_plots_drawn(measured, {predicted}, options.score, args.plot, true)) return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

Command add_explain_command(CLI::App& program) {
  auto args = std::make_shared<ExplainArguments>();
  CLI::App* command = add_command(program, "explain",
                                  "Explain the peaks of a measured spectrum by the EI model's ions of a structure.");
  add_spectrum_options(*command, args->spectrum);
  command->add_option("--smiles", args->smiles, "the structure")->type_name("S")->check(not_empty())->required();
  command->add_option("-o,--output", args->output, "table of the measured peaks; - standard output")
      ->type_name("OUTPUT")
      ->check(not_empty())
      ->capture_default_str();
  command->add_option("--plot", args->plot, "annotated mirror plot into this image (needs Python)")
      ->type_name("FILE")
      ->check(not_empty());
  add_full_range_option(*command, args->full_range);
  command->footer(
      "The table has one row per measured peak: mz, intensity (% of the base peak), predicted (% of the\n"
      "predicted base peak at that m/z, within 0.5), ions (the EI model's ions there, largest share first:\n"
      "formula, +k for an isotope peak, (M) for the molecular ion, (M-loss) for a fragment, the share when\n"
      "several) and reasons (the features that weigh most in the first ion's score). Standard error gives\n"
      "the share of the measured intensity explained, the score (cosine of square-rooted intensities,\n"
      "counting only the m/z range the measured spectrum covers unless --full-range) and the measured peaks\n"
      "of 5 % or more of the base peak that no predicted ion explains.\n"
      "exit status: 0 explained, 1 the plot failed, 2 usage or file error");
  return {command, [args] { return run_explain(*args); }};
}

}  // namespace tessarin::cli
