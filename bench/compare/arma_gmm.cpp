// Armadillo's gmm_diag / gmm_full on a comparison data set: EM only, from
// the data vectors named in prefix.start as means, the data covariance
// divided by K as every covariance and equal weights. Armadillo stops early
// on convergence, so the iterations made are counted from its trace.

#include <armadillo>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "peer_common.h"

namespace {

template <typename Model>
double TimeLearn(Model model, arma::mat const& X, int K, int iterations, int& made) {
  std::ostringstream trace;
  std::streambuf* console = std::cout.rdbuf(trace.rdbuf());
  double start = Seconds();
  model.learn(X, K, arma::eucl_dist, arma::keep_existing, 0, iterations, 1e-10, true);
  double seconds = Seconds() - start;
  std::cout.rdbuf(console);
  made = 0;
  std::string text = trace.str();
  for (size_t at = text.find("EM: iteration"); at != std::string::npos;
       at = text.find("EM: iteration", at + 1))
    ++made;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: arma_gmm prefix N d K full a b\n");
    return 1;
  }
  char const* prefix = argv[1];
  long N = std::atol(argv[2]);
  int d = std::atoi(argv[3]), K = std::atoi(argv[4]), full = std::atoi(argv[5]);
  int a = std::atoi(argv[6]), b = std::atoi(argv[7]);
  double* raw = ReadBinary(prefix, N, d);
  long* start = ReadStart(prefix, K);
  if (!raw || !start) return 2;

  // Armadillo keeps one vector per column: the row-major file is its d x N.
  arma::mat X(raw, d, N, false, true);
  arma::vec mean(d);
  arma::mat cov(d, d);
  DataMoments(raw, N, d, mean.memptr(), cov.memptr());  // symmetric: layout does not matter
  arma::mat means(d, K);
  for (int k = 0; k < K; ++k) means.col(k) = X.col(start[k]);
  arma::rowvec hefts(K);
  hefts.fill(1.0 / K);

  double ta, tb;
  int made_a = 0, made_b = 0;
  if (full) {
    arma::gmm_full model;
    arma::cube fcovs(d, d, K);
    for (int k = 0; k < K; ++k) fcovs.slice(k) = cov / K;
    model.set_params(means, fcovs, hefts);
    ta = TimeLearn(model, X, K, a, made_a);
    tb = TimeLearn(model, X, K, b, made_b);
  } else {
    arma::gmm_diag model;
    arma::mat dcovs(d, K);
    for (int k = 0; k < K; ++k) dcovs.col(k) = cov.diag() / K;
    model.set_params(means, dcovs, hefts);
    ta = TimeLearn(model, X, K, a, made_a);
    tb = TimeLearn(model, X, K, b, made_b);
  }
  std::printf("%.6g %d %d\n", (tb - ta) / (made_b - made_a), made_a, made_b);
  free(raw);
  free(start);
  return 0;
}
