#include "data/writer.h"

#include "data/data.h"

bool WriteVector(FILE* file, double const* values, int count, const char* format) {
  for (int j = 0; j < count; ++j)
    if (fprintf(file, format, values[j]) < 0) return false;
  return fputc('\n', file) != EOF;
}

int WriteFile(const char* name, std::function<int(FILE*)> const& write) {
  FILE* file = fopen(name, "w");
  if (!file) return DATA_FILE_CANNOT_OPEN;
  int result = write(file);
  if (fclose(file) != 0 && result == DATA_FILE_OK) result = DATA_FILE_FAILED;
  return result;
}
