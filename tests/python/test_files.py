"""Model files: written by write_model, read by read_model and by
mixfit-model."""

import os
import subprocess

import numpy as np
import pytest
from sklearn.datasets import load_iris

import mixfit

X = load_iris().data
MODEL_PROGRAM = os.environ.get("MIXFIT_MODEL_BINARY")


@pytest.mark.parametrize("covariance_type", ["full", "tied", "diag", "spherical"])
def test_round_trip(tmp_path, covariance_type):
    fitted = mixfit.GaussianMixture(3, covariance_type=covariance_type, random_state=0).fit(X)
    fitted.write_model(tmp_path / "model.txt")
    read = mixfit.read_model(tmp_path / "model.txt")
    # Tied and spherical components are stored as full and diagonal ones.
    assert read.covariance_type == ("full" if covariance_type in ("full", "tied") else "diag")
    # The file keeps 6 significant digits.
    np.testing.assert_allclose(read.means_, fitted.means_, rtol=1e-5)
    np.testing.assert_allclose(read.score_samples(X), fitted.score_samples(X), rtol=1e-3)
    np.testing.assert_allclose(read.precisions_, np.linalg.inv(read.covariances_)
                               if read.covariance_type == "full" else 1 / read.covariances_,
                               rtol=1e-9)
    read.write_model(tmp_path / "again.txt")
    assert (tmp_path / "again.txt").read_bytes() == (tmp_path / "model.txt").read_bytes()


def test_bad_model_files(tmp_path):
    with pytest.raises(FileNotFoundError):
        mixfit.read_model(tmp_path / "missing.txt")
    (tmp_path / "bad.txt").write_text("not a model\n")
    with pytest.raises(ValueError):
        mixfit.read_model(tmp_path / "bad.txt")
    with pytest.raises(OSError):
        mixfit.GaussianMixture().fit(X).write_model(tmp_path / "no" / "model.txt")


@pytest.mark.skipif(MODEL_PROGRAM is None, reason="MIXFIT_MODEL_BINARY is not set")
def test_mixfit_model_reads_it(tmp_path):
    mixfit.GaussianMixture(2, random_state=0).fit(X).write_model(tmp_path / "model.txt")
    np.savetxt(tmp_path / "data.txt", X)
    out = subprocess.run([MODEL_PROGRAM, "score", "-m", tmp_path / "model.txt", "-i",
                          tmp_path / "data.txt"], capture_output=True, text=True, check=True)
    np.testing.assert_allclose(np.loadtxt(out.stdout.splitlines()),
                               mixfit.read_model(tmp_path / "model.txt").score_samples(X),
                               rtol=1e-12)
