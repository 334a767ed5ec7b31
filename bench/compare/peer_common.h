// Shared by the peer programs: the data set, the starting indices and a
// clock. Every peer program is called as
//
//   program prefix N d K full iterations_a iterations_b
//
// and prints one line "seconds_per_iteration iterations_a_done iterations_b_done".

#ifndef MIXFIT_BENCH_PEER_COMMON_H
#define MIXFIT_BENCH_PEER_COMMON_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* Reads N*d doubles from prefix.bin into a new buffer (row-major). */
static double* ReadBinary(char const* prefix, long N, int d) {
  char name[4096];
  snprintf(name, sizeof name, "%s.bin", prefix);
  FILE* file = fopen(name, "rb");
  if (!file) return NULL;
  double* data = (double*)malloc(sizeof(double) * N * d);
  size_t got = fread(data, sizeof(double), (size_t)(N * d), file);
  fclose(file);
  if (got != (size_t)(N * d)) {
    free(data);
    return NULL;
  }
  return data;
}

/* Reads the K starting indices from prefix.start. */
static long* ReadStart(char const* prefix, int K) {
  char name[4096];
  snprintf(name, sizeof name, "%s.start", prefix);
  FILE* file = fopen(name, "r");
  if (!file) return NULL;
  long* index = (long*)malloc(sizeof(long) * K);
  for (int k = 0; k < K; ++k)
    if (fscanf(file, "%ld", &index[k]) != 1) {
      fclose(file);
      free(index);
      return NULL;
    }
  fclose(file);
  return index;
}

/* Mean and population covariance (d x d, row-major) of the data. */
static void DataMoments(double const* x, long N, int d, double* mean, double* cov) {
  for (int j = 0; j < d; ++j) mean[j] = 0.0;
  for (long n = 0; n < N; ++n)
    for (int j = 0; j < d; ++j) mean[j] += x[n * d + j];
  for (int j = 0; j < d; ++j) mean[j] /= (double)N;
  for (int i = 0; i < d * d; ++i) cov[i] = 0.0;
  for (long n = 0; n < N; ++n)
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < d; ++j)
        cov[i * d + j] += (x[n * d + i] - mean[i]) * (x[n * d + j] - mean[j]);
  for (int i = 0; i < d * d; ++i) cov[i] /= (double)N;
}

/* CPU time of the process, so that other load on the machine counts as
   little as possible; with COMPARE_CLOCK=wall the elapsed time, which falls
   with threads. */
static double Seconds(void) {
  char const* clock = getenv("COMPARE_CLOCK");
  int wall = clock && strcmp(clock, "wall") == 0;
  struct timespec t;
  clock_gettime(wall ? CLOCK_MONOTONIC : CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

#endif
