// Fuzz target: mixfit-model's whole input path, as its main runs it. The
// fuzz bytes up to the first '=' are the arguments (split at zero
// characters, the command word first), those up to the next '=' the model
// file and the rest the data file. The arguments go through the command's
// help check, parser and checks; the names given to -m and -i then stand for
// the fuzzed files, and the results go to a file of the target's own.
//
// Properties: a failed command writes nothing; a command that succeeds
// writes a row per data vector (score without --average, classify,
// posteriors), per component (distances) or per draw (sample), and line
// numbers that rise within the data file's lines.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "data/data.h"
#include "driver/commandline.h"
#include "driver/modelcommands.h"
#include "driver/modeloptions.h"
#include "fuzz_support.h"
#include "mixture/mixmodel.h"
#include "options/options.h"

namespace {

// Arguments beyond this many are dropped: the parser is linear in them.
const size_t kMaxArguments = 64;
// Draws beyond this many only make the fuzzer slow.
const int kMaxFuzzDraws = 64;

// The files of a run, in a directory of the process that goes with it.
struct Scratch {
  std::string directory, model, data, output;

  Scratch() {
    char pattern[] = "/tmp/mixfit-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    directory = pattern;
    model = directory + "/model.txt";
    data = directory + "/data.txt";
    output = directory + "/output.txt";
  }
  ~Scratch() {
    for (std::string const* name : {&model, &data, &output}) remove(name->c_str());
    rmdir(directory.c_str());
  }
};

Scratch const& Files() {
  static Scratch scratch;
  return scratch;
}

void WriteText(std::string const& name, std::string const& text) {
  FILE* file = fopen(name.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(fwrite(text.data(), 1, text.size(), file) == text.size());
  FUZZ_CHECK(fclose(file) == 0);
}

// The text of the named file, and whether it exists.
bool ReadText(std::string const& name, std::string& text) {
  FILE* file = fopen(name.c_str(), "rb");
  if (file == nullptr) return false;
  text.clear();
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  fclose(file);
  return true;
}

// The lines of text, the last one also without a line feed.
size_t LineCount(std::string const& text) {
  size_t const feeds = std::count(text.begin(), text.end(), '\n');
  return feeds + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

// What the command's output must hold on success.
void CheckOutput(ModelOptions const& options, std::string const& output, std::string const& data,
                 std::string const& model) {
  size_t const rows = LineCount(output);
  switch (options.command) {
    case ModelCommand::kScore:
    case ModelCommand::kClassify:
    case ModelCommand::kPosteriors: {
      if (options.average) {
        FUZZ_CHECK(rows == 1);
        return;
      }
      DataStorage storage;
      FUZZ_CHECK(storage.Read(InputBytes(data).file) == DATA_FILE_OK);
      FUZZ_CHECK(rows == static_cast<size_t>(storage.rows));
      if (!options.line_numbers) return;
      std::istringstream lines(output);
      long last = 0;
      for (std::string line; std::getline(lines, line);) {
        long const number = strtol(line.c_str(), nullptr, 10);
        FUZZ_CHECK(number > last && static_cast<size_t>(number) <= LineCount(data));
        last = number;
      }
      return;
    }
    case ModelCommand::kSample:
      FUZZ_CHECK(rows == static_cast<size_t>(options.count));
      return;
    case ModelCommand::kDistances: {
      MixtureModel components;
      MixtureModelFileFormat format;
      FUZZ_CHECK(components.Read(InputBytes(model).file, format) == MM_FILE_OK);
      FUZZ_CHECK(rows == static_cast<size_t>(components.count));
      return;
    }
    case ModelCommand::kInfo:
    case ModelCommand::kFit:
    case ModelCommand::kUnknown:
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size) {
  std::string const text(reinterpret_cast<char const*>(bytes), size);
  size_t const first = std::min(text.find('='), text.size());
  size_t const second = std::min(text.find('=', first + 1), text.size());
  std::string const model = text.substr(std::min(first + 1, text.size()), second - first - 1);
  std::string const data = text.substr(std::min(second + 1, text.size()));

  std::vector<std::string> arguments;
  for (size_t start = 0; start <= first && arguments.size() < kMaxArguments;) {
    size_t const end = std::min(text.find('\0', start), first);
    arguments.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (std::string const& argument : arguments) argv.push_back(argument.c_str());
  int const argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  ModelCommand const command = CommandNamed(argv[0]);
  if (command == ModelCommand::kUnknown) {
    PrintCommands(Sink());
    return 0;  // status 1
  }
  FreeOptions();
  DeclareCommandOptions(command);
  if (optGivenOption(0, "help", argc, argv.data()) ||
      optParseCommandLine(argc, argv.data(), Sink()) != 0 ||
      (ReadsData(command) && NotANumberGiven('v', Sink()))) {
    PrintCommandUsage(Sink(), command);
    return 0;  // status 1
  }
  ModelOptions options = ReadModelOptions(command);

  Scratch const& files = Files();
  WriteText(files.model, model);
  WriteText(files.data, data);
  remove(files.output.c_str());
  options.model = files.model.c_str();
  if (options.input != nullptr) options.input = files.data.c_str();
  options.output = files.output.c_str();
  options.count = std::min(options.count, kMaxFuzzDraws);
  options.seed = 1;

  ExitStatus const status = RunModelCommand(options);
  std::string output;
  bool const written = ReadText(files.output, output);
  if (status != ExitStatus::kSuccess) {
    FUZZ_CHECK(status == ExitStatus::kDataError || status == ExitStatus::kSolutionError ||
               status == ExitStatus::kOutputError);
    FUZZ_CHECK(!written);
    return 0;
  }
  FUZZ_CHECK(written);
  CheckOutput(options, output, data, model);
  return 0;
}
