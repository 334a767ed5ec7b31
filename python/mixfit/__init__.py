"""Gaussian mixture models fitted by EM on mixfit's C++ engine, with
scikit-learn's estimator API.

GaussianMixture  scikit-learn's GaussianMixture, run by the engine
read_model       a fitted GaussianMixture from a mixfit model file
fit_program      the mixfit program's own fit from random starts
"""

from ._gaussian_mixture import GaussianMixture, read_model
from ._program_fit import fit_program

__all__ = ["GaussianMixture", "read_model", "fit_program"]
