"""The fit of the mixfit program, on arrays."""

from numbers import Integral, Real

import numpy as np
from sklearn.utils import check_array

from . import _engine
from ._gaussian_mixture import GaussianMixture, _check_number, _seed, _thread_count

# The smallest relative variance floor and EM threshold the program takes.
_SMALLEST_RELATIVE = 2.0**-16


def fit_program(X, n_components=1, *, covariance_type="diag", n_init=1, kmeans_iter=10,
                  update_covariances=True, max_iter=None, threshold=_SMALLEST_RELATIVE,
                  variance_floor=_SMALLEST_RELATIVE, seed=None, n_threads=None):
    """Fits a mixture to X as the mixfit program does from random starts,
    and returns it as a fitted GaussianMixture.

    The options are the program's: n_components (-c), covariance_type 'diag'
    or 'full' (-f), n_init random starts each refined by kmeans_iter
    iterations of Mahalanobis k-means, the last one updating the covariances
    when update_covariances (-r n,k,u), then EM for max_iter iterations (-I;
    0 for Euclidean k-means and no EM) or, when max_iter is None, until the
    relative improvement of the log likelihood falls to threshold (-t);
    every variance is held above variance_floor times the data's (-v). With
    seed s (0 to 2^32 - 1; None draws one) it gives the model of the program
    run with MIXFIT_SEED=s on the same data, at any n_threads.

    The result's log_likelihood_ is the average log likelihood the program
    prints; converged_, n_iter_ and lower_bound_ are not set, as the
    program's search does not tell them.
    """
    _check_number("n_components", n_components, Integral, 1, 1000000)
    _check_number("n_init", n_init, Integral, 1, 1000000)
    _check_number("kmeans_iter", kmeans_iter, Integral, 0, 100)
    if max_iter is not None:
        _check_number("max_iter", max_iter, Integral, 0, 1000)
    _check_number("threshold", threshold, Real, _SMALLEST_RELATIVE, 1.0)
    _check_number("variance_floor", variance_floor, Real, _SMALLEST_RELATIVE, 1.0)
    if seed is not None:
        _check_number("seed", seed, Integral, 0, 2**32 - 1)
    if n_threads is not None:
        _check_number("n_threads", n_threads, Integral, 1)
    if covariance_type not in ("diag", "full"):
        raise ValueError(f"covariance_type must be 'diag' or 'full', got {covariance_type!r}")
    X = check_array(X, dtype=np.float64)
    fitted = _engine.fit_program(
        X, n_components, covariance_type == "full", n_init, kmeans_iter,
        bool(update_covariances), -1 if max_iter is None else max_iter, threshold,
        variance_floor, _seed(None, 2**32) if seed is None else seed, _thread_count(n_threads))
    model = GaussianMixture(n_components=n_components, covariance_type=covariance_type)
    model._set_fitted(fitted)
    model.log_likelihood_ = fitted["log_likelihood"]
    return model
