"""Mirror plots of a spectrum file, for the command line: ``python -m tessarin.figures.mirror_file SPECTRA OUT``.

The first spectrum of SPECTRA is the measured one; each further one gets a
mirror plot against it, stacked top to bottom, saved to OUT (its extension
gives the format). ``tessarin identify --plot`` draws its figure this way.
"""

import argparse
import sys


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m tessarin.figures.mirror_file", description=__doc__.splitlines()[0])
    parser.add_argument("spectra")
    parser.add_argument("out")
    parser.add_argument("--method", default="cosine")
    parser.add_argument("--tolerance", type=float, default=0.5)
    parser.add_argument("--mz-power", type=float, default=0.0)
    parser.add_argument("--intensity-power", type=float, default=0.5)
    parser.add_argument("--reverse", action="store_true")
    parser.add_argument("--annotate", action="store_true", help="name the ions of the explained measured peaks")
    parser.add_argument("--full-range", action="store_true", help="score the peaks outside the measured m/z range too")
    args = parser.parse_args(argv)

    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from ..spectra import read_spectra
    from .mirror import mirror_plot

    spectra = list(read_spectra(args.spectra))
    if len(spectra) < 2:
        raise ValueError(f"{args.spectra} holds no predicted spectrum to compare")
    measured, predicted = spectra[0], spectra[1:]
    fig, axes = plt.subplots(len(predicted), 1, figsize=(11, 5.5 * len(predicted)), squeeze=False)

    def draw():
        for ax, p in zip(axes[:, 0], predicted):
            mirror_plot(
                measured,
                p,
                ax=ax,
                method=args.method,
                tolerance=args.tolerance,
                mz_power=args.mz_power,
                intensity_power=args.intensity_power,
                reverse=args.reverse,
                annotate=args.annotate,
                measured_range=not args.full_range,
            )

    # The labels are placed for the axes' size: draw once to lay the figure out, then again at the final size.
    draw()
    fig.tight_layout()
    for ax in axes[:, 0]:
        ax.clear()
    draw()
    fig.savefig(args.out, dpi=100)
    return 0


def _main_reporting():
    """main(), with a failure said in one line on standard error (exit status 1) instead of a traceback."""
    try:
        return main()
    except KeyboardInterrupt:
        return 130
    except Exception as e:
        sys.stderr.write(f"python -m tessarin.figures.mirror_file: {e}\n")
        return 1


if __name__ == "__main__":
    sys.exit(_main_reporting())
