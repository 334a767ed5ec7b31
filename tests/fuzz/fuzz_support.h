#ifndef MIXFIT_TESTS_FUZZ_FUZZ_SUPPORT_H
#define MIXFIT_TESTS_FUZZ_FUZZ_SUPPORT_H

// Memory streams for the fuzz targets: the fuzz bytes as a file to read, a
// file whose text is kept in memory, and a sink for messages.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

// A read-only stream over a copy of the bytes (fmemopen may not be given the
// fuzzer's own const buffer). Binary: zero characters are read as they are.
struct InputBytes {
  explicit InputBytes(std::string bytes)
      : copy(std::move(bytes)), file(fmemopen(&copy[0], copy.size(), "r")) {
    if (!file) abort();
  }
  InputBytes(uint8_t const* bytes, size_t size)
      : InputBytes(std::string(reinterpret_cast<char const*>(bytes), size)) {}
  ~InputBytes() { fclose(file); }
  InputBytes(InputBytes const&) = delete;

  std::string copy;
  FILE* file;
};

// A write stream whose text Text() returns, closing the stream.
struct OutputText {
  OutputText() : file(open_memstream(&text, &size)) {
    if (!file) abort();
  }
  ~OutputText() {
    if (file) fclose(file);
    free(text);
  }
  OutputText(OutputText const&) = delete;
  std::string Text() {
    if (file) fclose(file);
    file = nullptr;
    return std::string(text, size);
  }

  char* text = nullptr;
  size_t size = 0;
  FILE* file;
};

inline FILE* Sink() {
  static FILE* sink = fopen("/dev/null", "w");
  return sink;
}

// Ends the process through the fuzzer's crash path with a message on stderr.
[[noreturn]] inline void FuzzFailure(const char* what) {
  fprintf(stderr, "fuzz property failed: %s\n", what);
  fflush(stderr);
  abort();
}

#define FUZZ_CHECK(condition)                  \
  do {                                         \
    if (!(condition)) FuzzFailure(#condition); \
  } while (0)

#endif
