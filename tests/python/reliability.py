"""Figures the reliability tests report at the end of the run: cases tried per
family, optimality misses of the EmpiricallyValidated tier (reported rather
than failed), and how the concurrency test ran.  conftest.py prints them in
pytest's terminal summary, so they show in every run's output."""

from __future__ import annotations

from collections import Counter, defaultdict

# section -> counter of (label -> count)
_counts: defaultdict[str, Counter[str]] = defaultdict(Counter)
# section -> free-form lines, in the order they were noted
_lines: defaultdict[str, list[str]] = defaultdict(list)


def count(section: str, label: str, n: int = 1) -> None:
    _counts[section][label] += n


def note(section: str, line: str) -> None:
    if line not in _lines[section]:
        _lines[section].append(line)


def set_line(section: str, key: str, line: str) -> None:
    """A line that replaces the earlier one under the same key."""
    _keyed[section][key] = line


_keyed: defaultdict[str, dict[str, str]] = defaultdict(dict)


def summary() -> list[str]:
    out: list[str] = []
    for section in sorted(set(_counts) | set(_lines) | set(_keyed)):
        out.append(f"{section}:")
        counter = _counts.get(section)
        if counter:
            out.extend(f"  {label}: {n}" for label, n in sorted(counter.items()))
        out.extend(f"  {line}" for line in _lines.get(section, []))
        out.extend(f"  {line}" for _, line in sorted(_keyed.get(section, {}).items()))
    return out
