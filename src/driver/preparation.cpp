#include "driver/preparation.h"

#include <cmath>
#include <vector>

#include "matrix/datautils.h"
#include "parallel/ranks.h"

namespace {

void PrintStatistic(const char* title, Matrix const& row) {
  fputs(title, stdout);
  row.Print(stdout, 0, 0, row.rows, row.columns);
}

}  // namespace

DataStatistics PrepareStatistics(Data const& data, bool full, int count, double relative_floor,
                                 int verbose) {
  DataStatistics statistics;
  Matrix mean = DataMean(data);
  if (verbose >= 2) PrintStatistic("Data mean:\n", mean);

  Matrix variances;
  if (full) {
    statistics.initial_covariance = DataCovariance(data, mean);
    statistics.initial_covariance.Diagonal(variances);
  } else {
    variances = DataVariances(data, mean);
    statistics.initial_covariance = variances;
  }
  if (verbose >= 2) PrintStatistic("Data variances:\n", variances);
  statistics.initial_covariance.Scale(1.0 / static_cast<double>(count));

  statistics.variances = variances;
  variances.Scale(relative_floor);
  statistics.minimum_variances = variances;
  if (verbose >= 2) PrintStatistic("Minimum variances:\n", statistics.minimum_variances);
  return statistics;
}

bool FullCovariancesFit(int dimension) { return dimension <= kMaxSquareDimension; }

bool FiniteMoments(Data const& data, DataStatistics const& statistics) {
  if (statistics.initial_covariance.NotFinite() != 0) return false;
  // The variances about zero are the sums of squares over the count.
  Matrix origin(1, data.Dimension(), 0.0);
  return DataVariances(data, origin).NotFinite() == 0;
}

int ColumnWithoutVariance(Data const& data, DataStatistics const& statistics) {
  int const d = data.Dimension();
  // Every vector is compared with the first of all ranks; a column varies
  // when it does on any rank.
  bool const any = data.Count() > 0;
  std::vector<double> first = GatherVaryingFromAll(any ? data.Vector(0) : nullptr, any ? d : 0);
  std::vector<double> varies(d, 0.0);
  for (size_t n = 0; n < data.Count(); ++n) {
    double const* x = data.Vector(n);
    for (int j = 0; j < d; ++j)
      if (x[j] != first[j]) varies[j] = 1.0;
  }
  AddInRankOrder(varies.data(), d);
  for (int j = 0; j < d; ++j)
    if (varies[j] == 0.0 || !(statistics.variances.data[j] > 0.0)) return j;
  return -1;
}

void CheckAndWarn(Data const& data, int components, FILE* report) {
  size_t n = data.TotalCount();
  int d = data.Dimension();
  // Single precision on purpose: the thresholds are rough and the printed
  // ratio is that of the float division.
  float ratio = static_cast<float>(static_cast<double>(n)) / static_cast<float>(components);
  float dimension = static_cast<float>(static_cast<double>(d));
  const char* strength;
  if (ratio <= dimension)
    strength = "probably";
  else if (ratio < 1.5f * dimension)
    strength = "maybe";
  else
    return;
  fprintf(report, "\nWarning: %s too few data vectors (%i)", strength, static_cast<int>(n));
  fprintf(report, " or too many components (%i)\n", components);
  fprintf(report, "  for data of dimensionality %i.\n", d);
  fprintf(report, "  Data / components ratio is %f.\n\n", static_cast<double>(ratio));
}

bool UsableSolution(MixtureModel const& model, int dimension) {
  for (int i = 0; i < model.count; ++i) {
    MixtureComponent const& component = *model.components[i];
    if (!(component.weight >= 0) || std::isinf(component.weight)) return false;
    Matrix const& covariance = component.covariance;
    bool diagonal = component.type == MM_COV_DIAGONAL && covariance.rows == 1 &&
                    covariance.columns == dimension;
    bool full = component.type == MM_COV_FULL && covariance.rows == dimension &&
                covariance.columns == dimension;
    if (component.mean.rows != 1 || component.mean.columns != dimension || !(diagonal || full))
      return false;
  }
  return true;
}
