"""``python -m tessarin``: the substituted-halogen test, its panel saved to /tmp/vif_halogen.png."""

from . import halogen_test

if __name__ == "__main__":
    halogen_test(save="/tmp/vif_halogen.png")
