#include "mixture/criteria.h"

#include <cmath>

long long FreeParameters(MixtureModel const& model) {
  if (model.count <= 0) return 0;
  long long parameters = model.count - 1;
  for (int k = 0; k < model.count; ++k) {
    MixtureComponent const& component = *model.components[k];
    long long const d = component.mean.columns;
    parameters += d + (component.type == MM_COV_FULL ? d * (d + 1) / 2 : d);
  }
  return parameters;
}

double BayesianInformationCriterion(double logLikelihood, long long parameters, size_t vectors) {
  return -2.0 * logLikelihood +
         static_cast<double>(parameters) * std::log(static_cast<double>(vectors));
}

double AkaikeInformationCriterion(double logLikelihood, long long parameters) {
  return -2.0 * logLikelihood + 2.0 * static_cast<double>(parameters);
}
