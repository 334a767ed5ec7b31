#include "training/scoring.h"

double SumInOrder(double const* values, size_t count) {
  double sum = 0.0;
  for (size_t n = 0; n < count; ++n) sum += values[n];
  return sum;
}

int LargestEntry(double const* values, int count) {
  int largest = 0;
  for (int k = 1; k < count; ++k)
    if (values[k] > values[largest]) largest = k;
  return largest;
}
