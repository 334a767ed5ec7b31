// Fuzz target: the fuzz bytes as a data file through DataStorage::Read.
// Whatever is read must be a set of finite vectors of one dimension that
// Data::Write writes and DataStorage::Read reads back to the same values (to
// the 15 significant digits that the writer keeps). Read from a regular file,
// which is parsed in parallel windows, the bytes give the same result.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/data.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  DataStorage storage;
  int const result = storage.Read(InputBytes(bytes, size).file);
  FUZZ_CHECK(result == 0 || result == 2);
  FUZZ_CHECK(storage.rows >= 0 && storage.columns >= 0);
  FUZZ_CHECK((storage.rows == 0) == (storage.ElementCount() == 0));
  for (int k = 0; k < storage.ElementCount(); ++k) FUZZ_CHECK(std::isfinite(storage.data[k]));

  FILE* regular = tmpfile();
  FUZZ_CHECK(regular && fwrite(bytes, 1, size, regular) == size);
  rewind(regular);
  DataStorage same;
  FUZZ_CHECK(same.Read(regular) == result);
  fclose(regular);
  FUZZ_CHECK(same.rows == storage.rows && same.columns == storage.columns);
  FUZZ_CHECK(storage.ElementCount() == 0 ||
             memcmp(same.data, storage.data, sizeof(double) * storage.ElementCount()) == 0);
  if (storage.rows == 0) return 0;

  Data data(storage);
  data.Map(0, static_cast<uint32_t>(storage.rows));
  OutputText output;
  FUZZ_CHECK(data.Write(output.file) == 0);
  std::string text = output.Text();

  DataStorage again;
  FUZZ_CHECK(again.Read(InputBytes(text).file) == 0);
  FUZZ_CHECK(again.rows == storage.rows && again.columns == storage.columns);
  for (int k = 0; k < storage.ElementCount(); ++k) {
    char printed[32];
    snprintf(printed, sizeof printed, "%.15g", storage.data[k]);
    FUZZ_CHECK(again.data[k] == strtod(printed, nullptr));
  }
  return 0;
}
