"""GaussianMixture against numpy on its own fitted arrays, its threads, its
refusals and scikit-learn's estimator checks."""

import subprocess
import sys
import threading

import numpy as np
import pytest
from sklearn.datasets import load_iris
from sklearn.exceptions import NotFittedError
from sklearn.utils.estimator_checks import check_estimator

import mixfit

TYPES = ["full", "tied", "diag", "spherical"]
X = load_iris().data


def full_covariances(model):
    """The covariances as K full matrices, whatever the type."""
    K, d = model.means_.shape
    c = model.covariances_
    return {"full": lambda: c, "tied": lambda: np.broadcast_to(c, (K, d, d)),
            "diag": lambda: np.array([np.diag(v) for v in c]),
            "spherical": lambda: np.array([v * np.eye(d) for v in c])}[model.covariance_type]()


def log_terms(model, X):
    """ln weight_k + ln N(x | mean_k, covariance_k), (n_samples, K)."""
    d = X.shape[1]
    terms = []
    for w, m, c in zip(model.weights_, model.means_, full_covariances(model)):
        diff = X - m
        distance = np.einsum("ni,ij,nj->n", diff, np.linalg.inv(c), diff)
        terms.append(np.log(w) - 0.5 * (d * np.log(2 * np.pi) + np.linalg.slogdet(c)[1] + distance))
    return np.array(terms).T


@pytest.fixture(scope="module", params=TYPES)
def fitted(request):
    return mixfit.GaussianMixture(3, covariance_type=request.param, random_state=0).fit(X)


def test_attributes_shapes(fitted):
    K, d = 3, X.shape[1]
    shape = {"full": (K, d, d), "tied": (d, d), "diag": (K, d), "spherical": (K,)}
    for name in ("covariances_", "precisions_", "precisions_cholesky_"):
        assert getattr(fitted, name).shape == shape[fitted.covariance_type]
        assert getattr(fitted, name).dtype == np.float64
    assert fitted.weights_.shape == (K,) and fitted.means_.shape == (K, d)
    assert np.isclose(fitted.weights_.sum(), 1.0)
    assert fitted.converged_ and fitted.n_iter_ >= 1 and fitted.n_features_in_ == d


def test_precisions(fitted):
    P, L = fitted.precisions_, fitted.precisions_cholesky_
    if fitted.covariance_type in ("full", "tied"):
        np.testing.assert_allclose(P, np.linalg.inv(fitted.covariances_), rtol=1e-9)
        np.testing.assert_allclose(L @ np.swapaxes(L, -1, -2), P, rtol=1e-12)
        assert np.allclose(np.tril(L, -1), 0.0)
    else:
        np.testing.assert_allclose(P, 1 / fitted.covariances_, rtol=1e-15)
        np.testing.assert_allclose(L, 1 / np.sqrt(fitted.covariances_), rtol=1e-15)


def test_densities_against_numpy(fitted):
    terms = log_terms(fitted, X)
    logs = np.logaddexp.reduce(terms, axis=1)
    np.testing.assert_allclose(fitted.score_samples(X), logs, rtol=1e-10)
    np.testing.assert_allclose(fitted.score(X), logs.mean(), rtol=1e-12)
    np.testing.assert_allclose(fitted.predict_proba(X), np.exp(terms - logs[:, None]),
                               atol=1e-10)
    np.testing.assert_array_equal(fitted.predict(X), np.argmax(fitted.predict_proba(X), axis=1))
    # The lower bound is the average log likelihood before the last M step.
    assert abs(fitted.lower_bound_ - logs.mean()) < fitted.tol


def test_criteria(fitted):
    K, d = 3, X.shape[1]
    covariances = {"full": K * d * (d + 1) / 2, "tied": d * (d + 1) / 2, "diag": K * d,
                   "spherical": K}[fitted.covariance_type]
    p = K - 1 + K * d + covariances
    log_likelihood = fitted.score(X) * len(X)
    assert np.isclose(fitted.bic(X), -2 * log_likelihood + p * np.log(len(X)))
    assert np.isclose(fitted.aic(X), -2 * log_likelihood + 2 * p)


def test_sample(fitted):
    samples, labels = fitted.sample(20000)
    assert samples.shape == (20000, 4) and labels.shape == (20000,)
    np.testing.assert_allclose(np.bincount(labels, minlength=3) / 20000, fitted.weights_,
                               atol=0.02)
    k = np.argmax(fitted.weights_)
    np.testing.assert_allclose(samples[labels == k].mean(axis=0), fitted.means_[k], atol=0.05)
    assert np.array_equal(fitted.sample(5)[0], fitted.sample(5)[0])  # an int random_state


def test_fit_predict(fitted):
    labels = mixfit.GaussianMixture(3, covariance_type=fitted.covariance_type,
                                    random_state=0).fit_predict(X)
    np.testing.assert_array_equal(labels, fitted.predict(X))


def fit_arrays(n_threads=1, **options):
    model = mixfit.GaussianMixture(4, n_init=3, random_state=1, n_threads=n_threads,
                                   **options).fit(X)
    return [model.weights_, model.means_, model.covariances_, model.lower_bound_]


def test_same_bits_in_two_threads_and_at_any_thread_count():
    sequential = [fit_arrays(), fit_arrays(covariance_type="diag")]
    results = [None, None]

    def run(i):
        results[i] = fit_arrays(2, covariance_type=["full", "diag"][i])

    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for one, other in zip(sequential, results):
        for a, b in zip(one, other):
            np.testing.assert_array_equal(a, b)


def test_warm_start_continues():
    model = mixfit.GaussianMixture(3, max_iter=2, tol=0, warm_start=True, random_state=0)
    with pytest.warns(Warning, match="did not converge"):
        model.fit(X)
    first = model.lower_bound_
    with pytest.warns(Warning, match="did not converge"):
        model.fit(X)
    assert model.lower_bound_ > first


def test_initial_values():
    means = X[[0, 60, 120]]
    model = mixfit.GaussianMixture(3, means_init=means, weights_init=[0.2, 0.3, 0.5],
                                   precisions_init=np.ones((3, 4)), covariance_type="diag")
    assert model.fit(X).converged_


BAD = [
    ("3-d X", {}, lambda: X[None]),
    ("fewer samples than components", {"n_components": 5}, lambda: X[:4]),
    ("n_components 0", {"n_components": 0}, lambda: X),
    ("covariance type", {"covariance_type": "round"}, lambda: X),
    ("init_params", {"init_params": "guess"}, lambda: X),
    ("negative tol", {"tol": -1.0}, lambda: X),
    ("negative reg_covar", {"reg_covar": -1e-6}, lambda: X),
    ("negative max_iter", {"max_iter": -1}, lambda: X),
    ("n_init 0", {"n_init": 0}, lambda: X),
    ("n_threads 0", {"n_threads": 0}, lambda: X),
    ("weights_init shape", {"n_components": 2, "weights_init": [1.0]}, lambda: X),
    ("weights_init sum", {"n_components": 2, "weights_init": [0.3, 0.3]}, lambda: X),
    ("means_init shape", {"n_components": 2, "means_init": np.zeros((2, 3))}, lambda: X),
    ("precisions_init not definite", {"n_components": 2,
                                      "precisions_init": -np.ones((2, 4, 4))}, lambda: X),
    ("precisions_init negative", {"n_components": 2, "covariance_type": "spherical",
                                  "precisions_init": [1.0, -1.0]}, lambda: X),
]


@pytest.mark.parametrize("options,data", [(o, d) for _, o, d in BAD],
                         ids=[name for name, _, _ in BAD])
def test_bad_input(options, data):
    with pytest.raises(ValueError):
        mixfit.GaussianMixture(**options).fit(data())


def test_bad_use_after_fit():
    model = mixfit.GaussianMixture(2)
    with pytest.raises(NotFittedError):
        model.predict(X)
    model.fit(X)
    with pytest.raises(ValueError):
        model.predict(X[:, :3])
    with pytest.raises(ValueError):
        model.sample(0)


def test_check_estimator():
    # Every check of scikit-learn 1.2 applies; none is skipped. Among them:
    # NaN, infinite and one-dimensional X refused, the same results after
    # pickling.
    check_estimator(mixfit.GaussianMixture())


def test_ctrl_c_stops_a_long_fit(tmp_path):
    script = """
import os, signal, threading, time, numpy as np, mixfit
X = np.random.RandomState(0).randn(100000, 8)
model = mixfit.GaussianMixture(20, tol=0, max_iter=100000, n_threads=1)
threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
start = time.time()
try:
    model.fit(X)
except KeyboardInterrupt:
    print(time.time() - start - 0.5)
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=60, check=True).stdout
    assert float(out) < 1.0
