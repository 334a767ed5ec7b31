#ifndef MIXFIT_TESTS_MIXTURE_HELPERS_H
#define MIXFIT_TESTS_MIXTURE_HELPERS_H

#include <cstdio>
#include <initializer_list>
#include <string>

#include "matrix/matrix.h"
#include "matrix/matrix_builders.h"
#include "mixture/mixmodel.h"

inline Matrix Row(std::initializer_list<double> values) {
  return FromValues(1, static_cast<int>(values.size()), values);
}

// A component on the heap, ready for MixtureModel::Add.
inline MixtureComponent* NewComponent(MixtureCovarianceMatrixType type, double weight,
                                      Matrix const& mean, Matrix const& covariance) {
  MixtureComponent* c = new MixtureComponent(type, mean.columns, false);
  c->weight = weight;
  c->mean = mean;
  c->covariance = covariance;
  return c;
}

// Everything written to file so far; closes it.
inline std::string ContentsAndClose(FILE* file) {
  std::string text(static_cast<size_t>(ftell(file)), '\0');
  rewind(file);
  text.resize(fread(&text[0], 1, text.size(), file));
  fclose(file);
  return text;
}

#endif
