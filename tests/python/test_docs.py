"""The Python blocks of the README and docs/ run as written, and every value a
line's comment shows is the value that line gives, so the documentation
cannot drift from the module."""

from __future__ import annotations

import ast
import io
import re
import tokenize
from pathlib import Path
from typing import Any

import pytest

ROOT = Path(__file__).resolve().parents[2]
DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
BLOCK = re.compile(r"^```python\n(.*?)^```", re.S | re.M)
# A comment that starts with a value as repr() shows it: a Decimal, a string,
# None, a bool or a number.
SHOWN = re.compile(r"#\s*(Decimal\('[^']*'\)|'[^']*'|None\b|True\b|False\b|-?\d[\d_]*(?:\.\d+)?)")


def comments_by_line(code: str) -> dict[int, str]:
    tokens = tokenize.generate_tokens(io.StringIO(code).readline)
    return {token.start[0]: token.string for token in tokens if token.type == tokenize.COMMENT}


def run_block(code: str, namespace: dict[str, Any], where: str) -> int:
    """Runs the block statement by statement; returns how many shown values it checked."""
    comments = comments_by_line(code)
    checked = 0
    for statement in ast.parse(code).body:
        shown = SHOWN.match(comments.get(statement.end_lineno or 0, ""))
        if isinstance(statement, ast.Expr) and shown:
            value = eval(compile(ast.Expression(statement.value), where, "eval"), namespace)
            text = ast.get_source_segment(code, statement)
            assert repr(value) == shown.group(1), f"{where}: {text} gives {value!r}, the comment shows {shown.group(1)}"
            checked += 1
        else:
            exec(compile(ast.Module([statement], type_ignores=[]), where, "exec"), namespace)
    return checked


@pytest.mark.parametrize("document", DOCUMENTS, ids=lambda path: path.name)
def test_python_blocks_run_and_show_what_they_compute(document: Path) -> None:
    if not document.exists():
        pytest.skip(f"{document} is not part of this checkout")
    namespace: dict[str, Any] = {"__name__": "__docs__"}
    checked = sum(run_block(match.group(1), namespace, f"{document.name}, python block {number}")
                  for number, match in enumerate(BLOCK.finditer(document.read_text(encoding="utf-8")), 1))
    # The README shows values: a change to SHOWN must not quietly stop checking them.
    assert checked or document.name != "README.md", "no value shown in the README was checked"
