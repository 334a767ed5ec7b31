#ifndef MIXFIT_TESTS_FUZZ_FUZZ_SUPPORT_H
#define MIXFIT_TESTS_FUZZ_FUZZ_SUPPORT_H

// Memory streams for the fuzz targets: the fuzz bytes as a file to read, and
// a file whose text is kept in memory.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A read-only stream over a copy of bytes (fmemopen may not be given the
// fuzzer's own const buffer). Binary: zero characters are read as they are.
class InputBytes {
 public:
  FILE* file;

  InputBytes(uint8_t const* bytes, size_t size) : copy_(bytes, bytes + size) {
    copy_.push_back('\0');
    file = fmemopen(copy_.data(), size, "r");
    if (!file) abort();
  }
  explicit InputBytes(std::string const& text)
      : InputBytes(reinterpret_cast<uint8_t const*>(text.data()), text.size()) {}
  ~InputBytes() { fclose(file); }
  InputBytes(InputBytes const&) = delete;
  InputBytes& operator=(InputBytes const&) = delete;

 private:
  std::vector<char> copy_;
};

// A write stream whose text Text() returns once the stream is closed.
class OutputText {
 public:
  FILE* file;

  OutputText() : file(open_memstream(&text_, &size_)) {
    if (!file) abort();
  }
  ~OutputText() {
    if (file) fclose(file);
    free(text_);
  }
  OutputText(OutputText const&) = delete;
  OutputText& operator=(OutputText const&) = delete;

  std::string Text() {
    if (file) fclose(file);
    file = nullptr;
    return std::string(text_, size_);
  }

 private:
  char* text_ = nullptr;
  size_t size_ = 0;
};

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
