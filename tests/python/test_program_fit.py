"""fit_program against the mixfit program run with MIXFIT_SEED on the same
data."""

import os
import subprocess

import numpy as np
import pytest
from sklearn.datasets import load_iris

import mixfit

X = load_iris().data
PROGRAM = os.environ.get("MIXFIT_BINARY")

# The program's options and fit_program's.
RUNS = [
    (["-c", "3", "-r", "4"], {"n_components": 3, "n_init": 4}),
    (["-c", "2", "-f", "-r", "3", "-t", "0.001", "-v", "0.01"],
     {"n_components": 2, "covariance_type": "full", "n_init": 3, "threshold": 0.001,
      "variance_floor": 0.01}),
    (["-c", "3", "-f", "-r", "2,5,no", "-I", "7"],
     {"n_components": 3, "covariance_type": "full", "n_init": 2, "kmeans_iter": 5,
      "update_covariances": False, "max_iter": 7}),
    (["-c", "2", "-I", "0"], {"n_components": 2, "max_iter": 0}),
]


@pytest.mark.skipif(PROGRAM is None, reason="MIXFIT_BINARY is not set")
@pytest.mark.parametrize("arguments,options", RUNS, ids=[" ".join(a) for a, _ in RUNS])
def test_same_model_as_the_program(tmp_path, arguments, options):
    np.savetxt(tmp_path / "data.txt", X, fmt="%.17g")
    printed = subprocess.run([PROGRAM, "-i", tmp_path / "data.txt", "-o", tmp_path / "program.txt"]
                             + arguments, env=dict(os.environ, MIXFIT_SEED="11"),
                             capture_output=True, text=True, check=True).stdout
    model = mixfit.fit_program(X, seed=11, **options)
    model.write_model(tmp_path / "python.txt")
    assert (tmp_path / "python.txt").read_bytes() == (tmp_path / "program.txt").read_bytes()
    assert printed == "%g\n" % model.log_likelihood_


def test_same_bits_at_any_thread_count():
    one, three = (mixfit.fit_program(X, 3, covariance_type="full", n_init=2, seed=5,
                                       n_threads=n) for n in (1, 3))
    for name in ("weights_", "means_", "covariances_", "log_likelihood_"):
        np.testing.assert_array_equal(getattr(one, name), getattr(three, name))


def test_refusals():
    with pytest.raises(ValueError):
        mixfit.fit_program(X, 3, covariance_type="tied")
    with pytest.raises(ValueError):
        mixfit.fit_program(X, 3, variance_floor=2.0)
    with pytest.raises(ValueError):  # a column without variance
        mixfit.fit_program(np.c_[X, np.ones(len(X))], 2)
    with pytest.raises(ValueError):  # more components than distinct samples
        mixfit.fit_program(np.repeat(X[:2], 5, axis=0), 3)
