#ifndef MIXFIT_MIXTURE_MIXMODEL_H
#define MIXFIT_MIXTURE_MIXMODEL_H

#include <cstdint>
#include <cstdio>

#include "matrix/matrix.h"
#include "mixture/density.h"

// The classes of a mixture model. Their members are defined by job: the
// model in mixmodel.cpp, the model file in modelfile.cpp and the distances
// between components in distance.cpp. The densities have their own header,
// included here for the code that uses both.

// How a component stores its covariance: a 1 x d row of variances or a full
// d x d matrix.
enum MixtureCovarianceMatrixType : int32_t {
  MM_COV_DIAGONAL = 1,
  MM_COV_FULL = 2,
};

// Model file formats. Formats other than these two are accepted by the
// readers and writers as formats with nothing to do.
enum MixtureModelFileFormat : int32_t {
  MM_FF_NONE = 0,
  MM_FF_PLAIN = 1,
};

// The optional first line of a plain model file (without its line feed).
extern char const* const MM_FF_PLAIN_string;

// Result codes of the model file operations.
enum MixtureModelFileResult : int32_t {
  MM_FILE_OK = 0,
  MM_FILE_CANNOT_OPEN = 1,   // the named file cannot be opened
  MM_FILE_MALFORMED = 2,     // empty, truncated, malformed or inconsistent file
  MM_FILE_NO_FORMAT = 3,     // format MM_FF_NONE
  MM_FILE_WRITE_FAILED = 4,  // a write, flush or close reported an error
};

// Distances between two components.
enum ComponentDistanceType : int32_t {
  CD_BHATTACHARYYA = 1,
};

// One weighted normal distribution of a mixture. The dimension d is the
// column count of mean.
class MixtureComponent {
 public:
  MixtureCovarianceMatrixType type;
  double weight;
  Matrix mean;        // 1 x d
  Matrix covariance;  // 1 x d variances (diagonal) or d x d (full)

  // Weight 0; covariance 1 x d for a diagonal type, d x d for a full one and
  // 0 x 0 for any other value. zero fills mean and covariance with 0.0,
  // otherwise their values are unset.
  MixtureComponent(MixtureCovarianceMatrixType type, int d, bool zero);
  // Mean taken from row `row` of data, a copy of covariance; the type follows
  // the covariance's shape (a 1 x 1 covariance makes a full component).
  MixtureComponent(double weight, Matrix const& data, int row, Matrix const& covariance);

  // Raises every variance below minimum's j-th value to it. The shape of the
  // covariance decides: a row of variances or the diagonal of a square
  // matrix. NaN variances stay NaN.
  void LimitVariances(Matrix const& minimum);
  // Number of non-finite numbers in mean, covariance and weight; writes one
  // line naming the faulty parts to report when it is not null.
  int NotFinite(FILE* report) const;
  // Copies d values into mean.
  void Mean(double const* values);
  void Add(MixtureComponent const& other, double factor);
  MixtureComponent& operator+=(MixtureComponent const& other);
  MixtureComponent& operator*=(double factor);

  // One component record of a model file; results are MixtureModelFileResult.
  int Read(FILE* file, MixtureModelFileFormat format);
  int Write(FILE* file, MixtureModelFileFormat format) const;

  // Bhattacharyya distance to other, given the determinants of both
  // covariances; withWeights adds -ln of the ratio of the smaller weight to
  // the larger.
  double BhattacharyyaDistance(MixtureComponent const& other, double determinant,
                               double otherDeterminant, bool withWeights) const;
  // The same from the natural logs of the determinants, for covariances
  // whose determinants overflow or underflow. The averaged covariance's
  // log-determinant is a sum of logs (see LogDeterminant), and the log ratio
  // (logDetS - 0.5 * logDeterminant) - 0.5 * otherLogDeterminant is floored
  // at ln(DBL_MIN), as the plain ratio is at DBL_MIN.
  double BhattacharyyaDistanceLog(MixtureComponent const& other, double logDeterminant,
                                  double otherLogDeterminant, bool withWeights) const;
  // The natural log of the covariance's determinant into *logDeterminant:
  // ln v_0 + ln v_1 + ... of the variances, or 2 * (ln L_00 + ln L_11 + ...)
  // of a full covariance's lower Cholesky factor L, each from 0.0 in
  // increasing index. Returns whether the covariance is positive definite:
  // every variance, or every Cholesky pivot, finite and above 0.
  bool LogDeterminant(double* logDeterminant) const;
  // The distance of the given kind, 0.0 for an unknown kind.
  double Distance(MixtureComponent const& other, ComponentDistanceType kind) const;
};

// An ordered set of heap-allocated components that the model owns.
// components has room for capacity pointers, of which the first count are
// in use; with capacity 0 there is no array.
class MixtureModel {
 public:
  int count;
  MixtureComponent** components;
  int capacity;

  MixtureModel() : count(0), components(nullptr), capacity(0) {}
  MixtureModel(MixtureModel const& other);
  // Takes other's components; other is left empty.
  MixtureModel(MixtureModel&& other) noexcept;
  ~MixtureModel();
  // Between models of equal count the components are assigned in place, so
  // pointers to them and their storage stay valid.
  MixtureModel& operator=(MixtureModel const& other);
  // Takes other's components, whatever their count, and leaves other empty;
  // the components this model had are released.
  MixtureModel& operator=(MixtureModel&& other) noexcept;

  // Appends component and takes ownership: it must have been created with
  // new on its own and must not be deleted by the caller.
  void Add(MixtureComponent& component);
  // Destroys component index (0 <= index < count) and closes the gap.
  void Remove(int index);
  // Removes every component whose covariance is singular: a variance
  // <= minimum (diagonal) or a failed Cholesky factorisation (full).
  // Returns how many were removed.
  int RemoveSingular(double minimum);
  // Scales the weights to sum 1; a total that is not positive gives 1/count.
  // Finite weights whose sum overflows are first divided by the largest.
  void NormalizeWeights();
  void LimitVariances(Matrix const& minimum);
  int NotFinite(FILE* report) const;

  // Model files; results are MixtureModelFileResult. Reading replaces the
  // components; after a failure past the count line the model keeps the
  // components read before it.
  int Read(char const* name, MixtureModelFileFormat& format);
  int Read(FILE* file, MixtureModelFileFormat& format);
  int Write(char const* name, MixtureModelFileFormat format) const;
  int Write(FILE* file, MixtureModelFileFormat format) const;
  // Recognises the optional header line; a file without it is plain format.
  int ReadFormatID(FILE* file, MixtureModelFileFormat& format);
  void WriteFormatID(FILE* file, MixtureModelFileFormat format) const;
};

// Whether any component of model has a full covariance.
bool AnyFullCovariance(MixtureModel const& model);

// The factor that the distances of component take, into factor: the
// inverse variances (diagonal type) or the inverse of the lower Cholesky
// factor (full type; after a failed decomposition, of what it left).
// determinant receives the product of the variances in order, or the
// determinant that the decomposition forms (NaN when the covariance is not
// square); logRootDeterminant half the sum of the logs of the variances, or
// the sum of the logs of the pivots' roots, in order from 0.0, while they
// are usable. Returns whether the covariance is usable: every variance or
// pivot root finite and above 0, and the factor finite.
bool InverseCovarianceFactor(MixtureComponent const& component, Matrix& factor, double* determinant,
                             double* logRootDeterminant);

#endif
