"""Test configuration: make the tests' helper module importable and fail early
with a clear message when the extension has not been built."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

try:
    import quarlen  # noqa: F401
except ImportError as exc:  # pragma: no cover - only hit on a broken setup
    raise ImportError(
        "the quarlen extension is not importable; build it with CMake and put the "
        "build directory on PYTHONPATH"
    ) from exc


def pytest_terminal_summary(terminalreporter: pytest.TerminalReporter) -> None:
    # The reliability tests' figures (cases per family, misses reported
    # rather than failed, how the threads ran).
    import reliability

    lines = reliability.summary()
    if lines:
        terminalreporter.section("reliability")
        for line in lines:
            terminalreporter.write_line(line)
