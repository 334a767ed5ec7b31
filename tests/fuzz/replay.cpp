// Replays every file of a corpus folder through a fuzz target once, without
// the fuzzer: with any compiler, the committed seeds and regression cases
// run with the test suite. A failed property aborts, which fails the test.
//
//   replay_<target> CORPUS_FOLDER
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  for (auto const& entry : std::filesystem::directory_iterator(argv[1], error))
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  if (error || inputs.empty()) {
    fprintf(stderr, "%s: no inputs in %s\n", argv[0], argv[1]);
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());
  for (auto const& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
    fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
    // As the fuzzer does, an empty input still comes with a valid pointer.
    uint8_t const none = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
  }
  printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
