// Fuzz target: the fuzz bytes as a model file through MixtureModel::Read.
// A model that is accepted must be written and read back as the same model,
// to the precision of the file (weights "%g", other values "%.15g"), and the
// second write must repeat the first one character for character.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "mixture/mixmodel.h"

namespace {

double AsWritten(const char* format, double value) {
  char printed[40];
  snprintf(printed, sizeof printed, format, value);
  return strtod(printed, nullptr);
}

bool SameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Every element of b is the element of a as the file writes it.
bool SameAsWritten(Matrix const& a, Matrix const& b) {
  if (a.rows != b.rows || a.columns != b.columns) return false;
  for (int k = 0; k < a.ElementCount(); ++k)
    if (!SameValue(AsWritten("%.15g", a.data[k]), b.data[k])) return false;
  return true;
}

std::string Written(MixtureModel const& model) {
  OutputText output;
  FUZZ_CHECK(model.Write(output.file, MM_FF_PLAIN) == MM_FILE_OK);
  return output.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  MixtureModel model;
  MixtureModelFileFormat format;
  int const result = model.Read(InputBytes(bytes, size).file, format);
  FUZZ_CHECK(result == MM_FILE_OK || result == MM_FILE_MALFORMED);
  if (result != MM_FILE_OK) return 0;
  FUZZ_CHECK(format == MM_FF_PLAIN);

  std::string text = Written(model);
  MixtureModel again;
  FUZZ_CHECK(again.Read(InputBytes(text).file, format) == MM_FILE_OK);
  FUZZ_CHECK(again.count == model.count);
  for (int k = 0; k < model.count; ++k) {
    MixtureComponent const& a = *model.components[k];
    MixtureComponent const& b = *again.components[k];
    FUZZ_CHECK(a.type == b.type);
    FUZZ_CHECK(SameValue(AsWritten("%g", a.weight), b.weight));
    FUZZ_CHECK(SameAsWritten(a.mean, b.mean));
    FUZZ_CHECK(SameAsWritten(a.covariance, b.covariance));
  }
  FUZZ_CHECK(Written(again) == text);
  return 0;
}
