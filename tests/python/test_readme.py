"""The Python examples of the README print what it shows."""

import contextlib
import io
import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def examples():
    """Each python block of the README's Python section with the text block
    that follows it."""
    section = README.read_text().split("\n## Python\n")[1].split("\n## ")[0]
    return re.findall(r"```python\n(.*?)```\s*```text\n(.*?)```", section, re.S)


@pytest.mark.parametrize("code,output", examples())
def test_example(tmp_path, monkeypatch, code, output):
    monkeypatch.chdir(tmp_path)  # for the files an example writes
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(code, {})
    assert printed.getvalue() == output


def test_every_example_is_run():
    assert len(examples()) == 4
