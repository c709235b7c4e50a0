"""Marker for functions whose engine is not part of this build yet."""


def not_built(name):
    raise NotImplementedError(f"tessarin.{name} is not available in this build yet")
