"""Test configuration: make the tests' helper module importable and fail early
with a clear message when the extension has not been built."""

import os
import sys

sys.path.insert(0, os.path.dirname(__file__))

try:
    import quarlen  # noqa: F401
except ImportError as exc:  # pragma: no cover - only hit on a broken setup
    raise ImportError(
        "the quarlen extension is not importable; build it with CMake and put the "
        "build directory on PYTHONPATH"
    ) from exc
