"""scikit-learn's GaussianMixture on a comparison data set: EM only, from the
data vectors named in prefix.start as means, the data covariance divided by K
as every covariance and equal weights.

    sk_gmm.py prefix N d K full a b

prints "seconds_per_iteration iterations_a_done iterations_b_done".
"""
import os
import sys
import time
import warnings

import numpy as np
from sklearn.mixture import GaussianMixture


def time_fit(x, K, kind, means, precisions, iterations):
    model = GaussianMixture(n_components=K, covariance_type=kind, tol=0.0,
                            reg_covar=1e-10, max_iter=iterations, n_init=1,
                            init_params="random_from_data",
                            weights_init=np.full(K, 1.0 / K), means_init=means,
                            precisions_init=precisions)
    # CPU time, or with COMPARE_CLOCK=wall the elapsed time.
    clock = time.perf_counter if os.environ.get("COMPARE_CLOCK") == "wall" else time.process_time
    start = clock()
    model.fit(x)
    return clock() - start, model.n_iter_


def main():
    prefix, N, d, K, full, a, b = sys.argv[1:8]
    N, d, K, full, a, b = int(N), int(d), int(K), int(full), int(a), int(b)
    x = np.fromfile(prefix + ".bin", dtype=np.float64).reshape(N, d)
    start = np.loadtxt(prefix + ".start", dtype=np.int64).reshape(-1)
    means = x[start]
    cov = np.cov(x, rowvar=False, bias=True).reshape(d, d) / K
    if full:
        kind, precisions = "full", np.repeat(np.linalg.inv(cov)[None], K, axis=0)
    else:
        kind, precisions = "diag", np.repeat((1.0 / np.diag(cov))[None], K, axis=0)
    warnings.simplefilter("ignore")
    ta, made_a = time_fit(x, K, kind, means, precisions, a)
    tb, made_b = time_fit(x, K, kind, means, precisions, b)
    print("%.6g %d %d" % ((tb - ta) / (made_b - made_a), made_a, made_b))


main()
