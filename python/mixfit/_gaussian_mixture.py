"""GaussianMixture: scikit-learn's estimator on mixfit's engine.

This layer checks arguments and converts arrays; fitting, densities,
responsibilities, sampling, precisions and model files are the engine's
(the C++ library, through the module _engine).
"""

import os
import time
import warnings
from numbers import Integral, Real

import numpy as np
from sklearn.base import BaseEstimator, DensityMixin
from sklearn.exceptions import ConvergenceWarning
from sklearn.utils import check_array, check_random_state
from sklearn.utils.validation import check_is_fitted

from . import _engine

_COVARIANCE_TYPES = ("full", "tied", "diag", "spherical")
_INIT_PARAMS = ("kmeans", "k-means++", "random", "random_from_data")


def _seed(random_state, high=2**63 - 1):
    """A seed for the engine drawn from random_state: an int gives the same
    seed, and so the same bits, on every call."""
    return int(check_random_state(random_state).randint(high, dtype=np.int64))


def _thread_count(n_threads):
    """n_threads, or every CPU this process may run on for None. The
    engine's results do not depend on it."""
    if n_threads is not None:
        return n_threads
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


def _check_number(name, value, kind, low, high=None):
    if isinstance(value, bool) or not isinstance(value, kind) or value < low or (
            high is not None and value > high):
        bound = "" if high is None else f" and <= {high}"
        raise ValueError(f"{name} must be a number >= {low}{bound}, got {value!r}")


class GaussianMixture(DensityMixin, BaseEstimator):
    """A Gaussian mixture fitted by EM: scikit-learn's GaussianMixture (1.2)
    with the same parameters, defaults, methods and fitted attributes, run by
    mixfit's C++ engine.

    n_threads is the number of threads of the engine, None for every CPU; the
    results are the same bits at any count. An int random_state gives the
    same bits on every run. verbose prints the outcome of the kept start
    once the fit has ended (the engine reports no iterations on the way, so
    verbose_interval has nothing to space out). With warm_start, a fit
    continues from the fitted model (also one read by read_model).
    """

    def __init__(self, n_components=1, *, covariance_type="full", tol=1e-3, reg_covar=1e-6,
                 max_iter=100, n_init=1, init_params="kmeans", weights_init=None,
                 means_init=None, precisions_init=None, random_state=None, warm_start=False,
                 verbose=0, verbose_interval=10, n_threads=None):
        self.n_components = n_components
        self.covariance_type = covariance_type
        self.tol = tol
        self.reg_covar = reg_covar
        self.max_iter = max_iter
        self.n_init = n_init
        self.init_params = init_params
        self.weights_init = weights_init
        self.means_init = means_init
        self.precisions_init = precisions_init
        self.random_state = random_state
        self.warm_start = warm_start
        self.verbose = verbose
        self.verbose_interval = verbose_interval
        self.n_threads = n_threads

    def _check_parameters(self):
        _check_number("n_components", self.n_components, Integral, 1)
        _check_number("tol", self.tol, Real, 0.0)
        _check_number("reg_covar", self.reg_covar, Real, 0.0)
        _check_number("max_iter", self.max_iter, Integral, 0)
        _check_number("n_init", self.n_init, Integral, 1)
        _check_number("verbose", self.verbose, Integral, 0)
        _check_number("verbose_interval", self.verbose_interval, Integral, 1)
        if self.n_threads is not None:
            _check_number("n_threads", self.n_threads, Integral, 1)
        if self.covariance_type not in _COVARIANCE_TYPES:
            raise ValueError(f"covariance_type must be one of {_COVARIANCE_TYPES}, "
                             f"got {self.covariance_type!r}")
        if self.init_params not in _INIT_PARAMS:
            raise ValueError(f"init_params must be one of {_INIT_PARAMS}, "
                             f"got {self.init_params!r}")

    def _initial_values(self, d):
        """weights_init, means_init and precisions_init checked against
        scikit-learn's shapes for d features."""
        K = self.n_components
        weights = means = precisions = None
        if self.weights_init is not None:
            weights = check_array(self.weights_init, dtype=np.float64, ensure_2d=False)
            if weights.shape != (K,):
                raise ValueError(f"weights_init must have shape ({K},), got {weights.shape}")
            if np.any(weights < 0) or np.any(weights > 1):
                raise ValueError("weights_init must be in [0, 1]")
            if not np.isclose(weights.sum(), 1.0):
                raise ValueError(f"weights_init must sum to 1, got {weights.sum()}")
        if self.means_init is not None:
            means = check_array(self.means_init, dtype=np.float64)
            if means.shape != (K, d):
                raise ValueError(f"means_init must have shape ({K}, {d}), got {means.shape}")
        if self.precisions_init is not None:
            shape = {"full": (K, d, d), "tied": (d, d), "diag": (K, d),
                     "spherical": (K,)}[self.covariance_type]
            precisions = check_array(self.precisions_init, dtype=np.float64, ensure_2d=False,
                                     allow_nd=True)
            if precisions.shape != shape:
                raise ValueError(f"precisions_init must have shape {shape}, "
                                 f"got {precisions.shape}")
            if self.covariance_type in ("full", "tied"):
                # Definiteness is the engine's to check; symmetry it takes on trust.
                if not np.allclose(precisions, np.swapaxes(precisions, -1, -2)):
                    raise ValueError("precisions_init must be symmetric, positive-definite")
            elif np.any(precisions <= 0):
                raise ValueError("precisions_init must be positive")
        return weights, means, precisions

    def fit(self, X, y=None):
        """Fits the mixture to X, (n_samples, n_features); returns self."""
        self.fit_predict(X, y)
        return self

    def fit_predict(self, X, y=None):
        """Fits the mixture to X and returns the most responsible component
        of each sample under the fitted model."""
        self._check_parameters()
        X = self._validate_data(X, dtype=np.float64, ensure_min_samples=2)
        if X.shape[0] < self.n_components:
            raise ValueError("Expected n_samples >= n_components but got n_components = "
                             f"{self.n_components}, n_samples = {X.shape[0]}")
        weights, means, precisions = self._initial_values(X.shape[1])
        warm = None
        if self.warm_start and hasattr(self, "means_"):
            warm = (self.weights_, self.means_, self.covariances_)
        if self.verbose >= 1:
            print(f"Fitting {self.n_components} components ({self.covariance_type}), "
                  f"{1 if warm else self.n_init} initialization(s)")
        start = time.time()
        fitted = _engine.fit(X, self.n_components, self.covariance_type, self.init_params,
                             self.tol, self.reg_covar, self.max_iter, self.n_init,
                             _seed(self.random_state), _thread_count(self.n_threads), weights,
                             means, precisions, warm)
        self._set_fitted(fitted)
        self.converged_ = fitted["converged"]
        self.n_iter_ = fitted["n_iter"]
        self.lower_bound_ = fitted["lower_bound"]
        if self.verbose >= 1:
            print(f"Initialization converged: {self.converged_}\t time lapse "
                  f"{time.time() - start:.5f}s\t iterations {self.n_iter_}\t "
                  f"lower bound {self.lower_bound_:.5f}")
        if not self.converged_:
            warnings.warn("Initialization did not converge. Try different init parameters, or "
                          "increase max_iter, tol or check for degenerate data.",
                          ConvergenceWarning)
        return self.predict(X)

    def _set_fitted(self, arrays):
        """The model's attributes from the engine's arrays."""
        for name in ("weights", "means", "covariances", "precisions", "precisions_cholesky"):
            setattr(self, name + "_", arrays[name])
        self.n_features_in_ = self.means_.shape[1]

    def _model(self, X=None):
        """The fitted model as the engine takes it, and X checked against it."""
        check_is_fitted(self)
        if X is not None:
            X = self._validate_data(X, dtype=np.float64, reset=False)
        return X, (self.covariance_type, self.weights_, self.means_, self.covariances_)

    def _threads(self):
        return _thread_count(self.n_threads)

    def score_samples(self, X):
        """The log density of each sample of X under the model."""
        X, model = self._model(X)
        return _engine.score_samples(X, *model, self._threads())

    def score(self, X, y=None):
        """The average log density of the samples of X."""
        X, model = self._model(X)
        return _engine.score(X, *model, self._threads())

    def predict(self, X):
        """The most responsible component of each sample (the lower one on
        ties)."""
        X, model = self._model(X)
        return _engine.predict(X, *model, self._threads())

    def predict_proba(self, X):
        """The responsibilities of the components for each sample,
        (n_samples, n_components)."""
        X, model = self._model(X)
        return _engine.predict_proba(X, *model, self._threads())

    def bic(self, X):
        """The Bayesian information criterion of the model on X; lower is
        better."""
        X, model = self._model(X)
        return _engine.criteria(X, *model, self._threads())[0]

    def aic(self, X):
        """The Akaike information criterion of the model on X; lower is
        better."""
        X, model = self._model(X)
        return _engine.criteria(X, *model, self._threads())[1]

    def sample(self, n_samples=1):
        """n_samples vectors drawn from the model and the component each came
        from. An int random_state gives the same draws at every call."""
        _, model = self._model()
        if isinstance(n_samples, bool) or not isinstance(n_samples, Integral) or n_samples < 1:
            raise ValueError(f"Invalid value for 'n_samples': {n_samples!r}. The sampling "
                             "requires at least one sample.")
        return _engine.sample(int(n_samples), *model, _seed(self.random_state))

    def write_model(self, path):
        """Writes the model as a mixfit model file, which mixfit and
        mixfit-model read (their format keeps 6 significant digits)."""
        _, model = self._model()
        _engine.write_model(os.fspath(path), *model)


def read_model(path):
    """A fitted GaussianMixture from a mixfit model file: covariance_type
    'diag' when every component is diagonal, 'full' when every one is full.
    The weights are normalised, as mixfit does. converged_, n_iter_ and
    lower_bound_ are not set: the file does not tell them."""
    arrays = _engine.read_model(os.fspath(path))
    model = GaussianMixture(n_components=len(arrays["weights"]),
                            covariance_type=arrays["covariance_type"])
    model._set_fitted(arrays)
    return model
