"""tools/select-k and tools/plot-model end to end: the table and the model
kept, the files they refuse, and what is left after a failed fit or a
signal. The programs are those MIXFIT_BINARY and MIXFIT_MODEL_BINARY name."""

import errno
import os
import re
import signal
import stat
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
FAITHFUL = SOURCE / "examples" / "faithful.txt"
MIXFIT = os.environ.get("MIXFIT_BINARY")
MODEL_PROGRAM = os.environ.get("MIXFIT_MODEL_BINARY")
pytestmark = pytest.mark.skipif(MIXFIT is None or MODEL_PROGRAM is None,
                                reason="MIXFIT_BINARY and MIXFIT_MODEL_BINARY are not set")

# Two diagonal components of Old Faithful's eruptions and waiting times.
FAITHFUL_MODEL = "2 0\n0.35 0\n2 54\n1 0\n0.07 34\n0.65 0\n4.3 80\n1 0\n0.17 36\n"


def run(program, *arguments, **environment):
    """Runs a program of this build, or a tool given them, with seed 1."""
    env = dict(os.environ, MIXFIT=MIXFIT, MIXFIT_MODEL=MODEL_PROGRAM, MIXFIT_SEED="1")
    env.update(environment)
    return subprocess.run([str(program)] + [str(a) for a in arguments], env=env, text=True,
                          capture_output=True, stdin=subprocess.DEVNULL)


def rows(text):
    """select-k's rows: K, average log likelihood, p, BIC and AIC."""
    return [[float(w) for w in line.split()[:5]] for line in text.splitlines()
            if re.match(r"\s+\d", line)]


def lowest_bic(table):
    """The K of the lowest BIC, the smallest on a tie."""
    return int(min(table, key=lambda row: (row[3], row[0]))[0])


def components(model):
    return int(run(MODEL_PROGRAM, "info", "-m", model).stdout.split()[1])


def names(directory):
    return sorted(str(p.relative_to(directory)) for p in directory.rglob("*"))


# Given twice, the last variance counts, for mixfit and mixfit-model alike (a
# floor of 0.5 would hold the variances of K = 2 up). The model is kept
# through a symbolic link: the link stays, its target keeps its mode and is
# replaced whole (a hard link to it keeps the old contents).
@pytest.mark.parametrize("variances", [["-v", "0.5", "-v", "0.01"],
                                       ["--variance", "0.5", "-v", "--", "0.01"]])
def test_select_k_names_the_lowest_bic_and_keeps_its_model_through_a_link(tmp_path, variances):
    fitted = tmp_path / "fit.txt"
    assert run(MIXFIT, "-i", FAITHFUL, "-o", fitted, "-c", "2", "-f", "-r", "2",
               "-v", "0.01").returncode == 0
    info = run(MODEL_PROGRAM, "info", "-m", fitted, "-i", FAITHFUL, "-v", "0.01").stdout
    average = float(re.search(r"average_log_likelihood (\S+)", info).group(1))
    target, link = tmp_path / "target", tmp_path / "link.txt"
    target.write_text("old\n")
    target.chmod(0o640)
    link.symlink_to(target)
    os.link(target, tmp_path / "old")
    done = run(SOURCE / "tools" / "select-k", FAITHFUL, "4", "-f", "-r", "2", "--model", link,
               *variances)
    assert done.returncode == 0, done.stderr
    table = rows(done.stdout)
    assert [row[0] for row in table] == [1, 2, 3, 4]
    assert table[1][1] == pytest.approx(average, abs=1e-6)
    best = lowest_bic(table)
    assert f"Lowest BIC: K = {best}; its model is in {link}" in done.stdout
    assert components(target) == best
    assert link.is_symlink() and stat.S_IMODE(target.stat().st_mode) == 0o640
    assert (tmp_path / "old").read_text() == "old\n"
    assert names(tmp_path) == ["fit.txt", "link.txt", "old", "target"]


# Outputs naming the data or each other, also through a link or spelt
# otherwise, and files that cannot be used are refused in one line before any
# fit or drawing and leave every file as it was. select-k is given a mixfit
# that fails any fit; plot-model needs Debian's python3-matplotlib.
def test_unusable_files_are_refused_in_one_line_before_any_work(tmp_path):
    data, model = tmp_path / "data.txt", tmp_path / "model.txt"
    picture, broken = tmp_path / "picture.png", tmp_path / "broken.txt"
    data.write_text(FAITHFUL.read_text())
    model.write_text(FAITHFUL_MODEL)
    picture.write_text("old\n")
    broken.write_text("2\n1\n0 0\n")
    data_link, model_link = tmp_path / "data-link.txt", tmp_path / "model-link.txt"
    data_link.symlink_to(data)
    model_link.symlink_to(model)
    missing, nowhere = tmp_path / "missing.txt", tmp_path / "missing" / "model.txt"
    fresh, spelt = tmp_path / "fresh.txt", f"{tmp_path}/./fresh.txt"

    def reason(number):
        return ": " + os.strerror(number)

    def same(what, path, other):
        return f"the {what} file {path} is the {other} file"

    # The tool, its arguments (select-k's KMAX left out), the status and the message.
    cases = [
        ("select-k", [data, "--model", data_link], 1, same("model", data_link, "data")),
        ("select-k", [data, "--model", model, "--plot", model_link], 1,
         same("plot", model_link, "model")),
        ("select-k", [data, "--model", fresh, "--plot", spelt], 1, same("plot", spelt, "model")),
        ("select-k", [data, "--model", nowhere], 4, f"cannot write {nowhere}" + reason(errno.ENOENT)),
        ("select-k", [data, "--model", tmp_path], 4, f"cannot write {tmp_path}" + reason(errno.EISDIR)),
        ("select-k", [missing], 2, f"cannot read {missing}" + reason(errno.ENOENT)),
        ("plot-model", [data, model, model], 1, f"the picture {model} is the model file"),
        ("plot-model", [picture, model, picture], 1, f"the picture {picture} is the data file"),
        ("plot-model", [data, missing, picture], 3, f"cannot read {missing}" + reason(errno.ENOENT)),
        ("plot-model", [data, broken, picture], 3, f"cannot read the model in {broken}"),
    ]
    drawing = run("/usr/bin/python3", "-c", "import matplotlib, numpy").returncode == 0
    before = names(tmp_path)
    for name, arguments, status, message in cases:
        if name == "plot-model" and not drawing:
            continue
        if name == "select-k":
            arguments = arguments[:1] + ["2"] + arguments[1:]
        refused = run(SOURCE / "tools" / name, *arguments, MIXFIT="/bin/false")
        assert refused.returncode == status, message
        assert refused.stderr.startswith(f"{name}: {message}"), refused.stderr
        assert refused.stderr.count("\n") == 1 and refused.stdout == ""
        assert data.read_text() == FAITHFUL.read_text() and model.read_text() == FAITHFUL_MODEL
        assert picture.read_text() == "old\n" and names(tmp_path) == before


# The fit of K = 5 fails, one beyond the four distinct vectors: the table and
# the model of the K finished are kept, mixfit's warnings come behind their
# K, and the failure last with mixfit's reason and its status.
def test_select_k_keeps_what_it_finished_before_a_fit_fails(tmp_path):
    data, kept = tmp_path / "data.txt", tmp_path / "kept.txt"
    data.write_text("1 2\n3 4\n5 7\n1 2\n6 1\n")
    kept.write_text("old\n")
    done = run(SOURCE / "tools" / "select-k", data, "6", "--model", kept)
    fit = run(MIXFIT, "-i", data, "-o", tmp_path / "fit.txt", "-c", "5")
    assert fit.returncode != 0 and done.returncode == fit.returncode, done.stderr
    lines = [line for line in done.stderr.splitlines() if line.strip()]
    reasons = [line for line in fit.stderr.splitlines() if line.strip()]
    assert all(line.startswith("K = ") for line in lines[:-1])
    assert all(f"K = 5: {line}" in done.stderr for line in reasons if line.startswith("Warning"))
    assert lines[-1].startswith("select-k: mixfit failed for K = 5: ") and reasons[-1] in lines[-1]
    table = rows(done.stdout)
    assert [row[0] for row in table] == [1, 2, 3, 4]
    assert components(kept) == lowest_bic(table)


# Killed while fitting, select-k leaves the model as it was and no temporary
# file, and dies by that signal. Ignored here, a signal is ignored by
# select-k too, as nohup asks.
@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
def test_select_k_cleans_up_and_dies_by_signal(tmp_path, number):
    if signal.getsignal(number) == signal.SIG_IGN:
        pytest.skip("the signal is ignored")
    kept, fake, temporary = tmp_path / "kept.txt", tmp_path / "fake", tmp_path / "tmp"
    kept.write_text("old\n")
    fake.write_text(f"#!/bin/sh\nkill -{int(number)} $PPID\n")  # a mixfit that signals select-k
    fake.chmod(0o755)
    temporary.mkdir()
    done = run(SOURCE / "tools" / "select-k", FAITHFUL, "2", "--model", kept, MIXFIT=str(fake),
               TMPDIR=str(temporary))
    assert done.returncode == -number, done.stderr
    assert kept.read_text() == "old\n" and names(tmp_path) == ["fake", "kept.txt", "tmp"]
