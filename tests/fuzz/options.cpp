// Fuzz target: the program's command line. The fuzz bytes, split at zero
// characters, are the arguments behind the program name; they go through the
// help check, the parser and the checks of combinations with the program's
// option table, and every value the program reads must then lie within its
// bounds. The table is process-wide, so every input starts from a new one.
#include "options/options.h"

#include <cstdint>
#include <string>
#include <vector>

#include "driver/commandline.h"
#include "fuzz_support.h"

namespace {

// Arguments beyond this many are dropped: the parser is linear in them.
const size_t kMaxArguments = 64;

void CheckValues() {
  FUZZ_CHECK(optString('i', 1) != nullptr);
  FUZZ_CHECK(optString('o', 1) != nullptr);
  FUZZ_CHECK(optInt('c', 1) >= 1 && optInt('c', 1) <= 1000000);
  FUZZ_CHECK(optDouble('v', 1) >= 1.0 / 65536.0 && optDouble('v', 1) <= 1.0);
  FUZZ_CHECK(optInt('r', 1) >= 1 && optInt('r', 1) <= 1000000);
  FUZZ_CHECK(optInt('r', 2) >= 0 && optInt('r', 2) <= 100);
  FUZZ_CHECK(optBool('r', 3) == 0 || optBool('r', 3) == 1);
  FUZZ_CHECK(optInt('I', 1) >= 0 && optInt('I', 1) <= 1000);
  FUZZ_CHECK(optDouble('t', 1) >= 1.0 / 65536.0 && optDouble('t', 1) <= 1.0);
  FUZZ_CHECK(optBool('f', 0) == 0 || optBool('f', 0) == 1);
  FUZZ_CHECK(optGivenStr("verbose", 0) >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  std::vector<std::string> arguments = {"mixfit"};
  std::string text(reinterpret_cast<char const*>(bytes), size);
  for (size_t start = 0; start <= text.size() && arguments.size() <= kMaxArguments;) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    arguments.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (std::string const& argument : arguments) argv.push_back(argument.c_str());
  int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  FreeOptions();
  DeclareOptions();
  if (optGivenOption(0, "help", argc, argv.data())) {
    optPrintUsage(Sink(), "mixfit");
    return 0;
  }
  int code = optParseCommandLine(argc, argv.data(), Sink());
  FUZZ_CHECK(code >= 0 && code <= 40);
  if (code != 0 || NotANumberGiven(Sink()) || OptionsConflict()) {
    optPrintUsage(Sink(), "mixfit");
    return 0;
  }
  CheckValues();
  return 0;
}
