"""``python -m tessarin``: the substituted-halogen test, its panel saved to /tmp/vif_halogen.png."""

import sys

from . import halogen_test

_USAGE = (
    "usage: python -m tessarin\n"
    "Runs the substituted-halogen test and saves its figure to /tmp/vif_halogen.png; it takes no arguments.\n"
    "The command line program is 'tessarin' (tessarin --help).\n"
)


def main(argv=None):
    """Run the test; a failure is said in one line on standard error (exit status 1), not as a traceback."""
    argv = sys.argv[1:] if argv is None else argv
    if argv in (["-h"], ["--help"]):
        sys.stdout.write(_USAGE)
        return 0
    if argv:
        sys.stderr.write(f"python -m tessarin: unexpected argument {argv[0]!r}\n" + _USAGE)
        return 2
    try:
        halogen_test(save="/tmp/vif_halogen.png")
    except KeyboardInterrupt:
        return 130
    except Exception as e:  # one plain line for whatever went wrong (an unwritable /tmp, a missing display)
        sys.stderr.write(f"python -m tessarin: {e}\n")
        return 1
    return 0


if __name__ == "__main__":
    status = main()
    if status:
        sys.exit(status)
