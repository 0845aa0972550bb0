"""Test configuration: make the tests' helper module importable, fail early
with a clear message when the extension has not been built, and load the
Hypothesis profile before any test module is imported."""

import os
import sys

import pytest
from hypothesis import HealthCheck, settings

sys.path.insert(0, os.path.dirname(__file__))

try:
    import quarlen  # noqa: F401
except ImportError as exc:  # pragma: no cover - only hit on a broken setup
    raise ImportError(
        "the quarlen extension is not importable; build it with CMake and put the "
        "build directory on PYTHONPATH"
    ) from exc

# Runs are reproducible: "ci" draws a fixed number of examples with
# derandomize=True (fewer under the sanitizers, which run many times slower);
# QUARLEN_HYPOTHESIS_PROFILE=thorough draws many more.
_COMMON = dict(
    deadline=None,
    database=None,
    print_blob=True,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much, HealthCheck.data_too_large],
)
_SANITIZED = os.environ.get("QUARLEN_SANITIZED") == "1"
settings.register_profile("ci", max_examples=25 if _SANITIZED else 120, derandomize=True, **_COMMON)  # type: ignore[arg-type]
settings.register_profile("thorough", max_examples=3000, derandomize=False, **_COMMON)  # type: ignore[arg-type]
settings.load_profile(os.environ.get("QUARLEN_HYPOTHESIS_PROFILE", "ci"))


def pytest_terminal_summary(terminalreporter: pytest.TerminalReporter) -> None:
    # The reliability tests' figures (cases per family, misses reported
    # rather than failed, how the threads ran).
    import reliability

    lines = reliability.summary()
    if lines:
        terminalreporter.section("reliability")
        for line in lines:
            terminalreporter.write_line(line)
