/* VLFeat's vl_gmm (diagonal covariances only) on a comparison data set: EM
   only, from the data vectors named in prefix.start as means, the data
   variances divided by K and equal weights. Counts the EM iterations made
   from VLFeat's own trace, since it stops early on convergence. */

#include <stdarg.h>
#include <string.h>
#include <vl/generic.h>
#include <vl/gmm.h>

#include "peer_common.h"

static int Iterations = 0;

static int CountIterations(char const* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (strstr(line, "em: iteration")) ++Iterations;
  return 0;
}

static double TimeEm(double const* x, long N, int d, int K, double const* means, double const* vars,
                     int iterations, int* made) {
  VlGMM* gmm = vl_gmm_new(VL_TYPE_DOUBLE, d, K);
  double* priors = (double*)malloc(sizeof(double) * K);
  for (int k = 0; k < K; ++k) priors[k] = 1.0 / K;
  vl_gmm_set_initialization(gmm, VlGMMCustom);
  vl_gmm_set_means(gmm, means);
  vl_gmm_set_covariances(gmm, vars);
  vl_gmm_set_priors(gmm, priors);
  vl_gmm_set_max_num_iterations(gmm, iterations);
  vl_gmm_set_num_repetitions(gmm, 1);
  vl_gmm_set_covariance_lower_bound(gmm, 1e-10);
  vl_gmm_set_verbosity(gmm, 1);
  Iterations = 0;
  double start = Seconds();
  vl_gmm_cluster(gmm, x, N);
  double seconds = Seconds() - start;
  *made = Iterations;
  vl_gmm_delete(gmm);
  free(priors);
  return seconds;
}

int main(int argc, char** argv) {
  if (argc != 8) {
    fprintf(stderr, "usage: vl_gmm prefix N d K full a b\n");
    return 1;
  }
  char const* prefix = argv[1];
  long N = atol(argv[2]);
  int d = atoi(argv[3]), K = atoi(argv[4]);
  int a = atoi(argv[6]), b = atoi(argv[7]);
  if (atoi(argv[5])) return 3; /* diagonal only */
  double* x = ReadBinary(prefix, N, d);
  long* start = ReadStart(prefix, K);
  if (!x || !start) return 2;
  char const* threads = getenv("OMP_NUM_THREADS");
  vl_set_num_threads(threads ? atoi(threads) : 1);
  vl_set_printf_func(CountIterations);

  double* mean = (double*)malloc(sizeof(double) * d);
  double* cov = (double*)malloc(sizeof(double) * d * d);
  DataMoments(x, N, d, mean, cov);
  double* means = (double*)malloc(sizeof(double) * d * K);
  double* vars = (double*)malloc(sizeof(double) * d * K);
  for (int k = 0; k < K; ++k)
    for (int j = 0; j < d; ++j) {
      means[k * d + j] = x[start[k] * d + j];
      vars[k * d + j] = cov[j * d + j] / K;
    }
  int made_a, made_b;
  double ta = TimeEm(x, N, d, K, means, vars, a, &made_a);
  double tb = TimeEm(x, N, d, K, means, vars, b, &made_b);
  printf("%.6g %d %d\n", (tb - ta) / (made_b - made_a), made_a, made_b);
  return 0;
}
