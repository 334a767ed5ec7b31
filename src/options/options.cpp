#include "options/options.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// An owned copy of a text; null stands for an absent text. Its characters
// stay where they are when the table grows, so pointers handed out by the
// getters remain valid.
using Text = std::unique_ptr<char[]>;

Text CopyText(const char* text) {
  if (text == nullptr) return nullptr;
  size_t size = std::strlen(text) + 1;
  Text copy(new char[size]);
  std::memcpy(copy.get(), text, size);
  return copy;
}

// One record of the table: an option (value_index 0) or one of its values.
// Only the fields of the record's type carry meaning.
struct OptRecord {
  char letter = 0;  // 0: no short form
  Text name;        // null: no long form
  int value_index = 0;
  int given = 0;  // occurrences of an option, non-empty tokens of a value
  bool compulsory = false;
  Text help;  // tab, line, line feed for every optUsage line
  int type = OPT_BOOL;
  bool flag = false;
  int bool_value = 0;
  int bool_default = 0;
  int int_value = 0;
  int int_default = 0;
  int int_minimum = 0;
  int int_maximum = 0;
  double double_value = 0.0;
  double double_default = 0.0;
  double double_minimum = 0.0;
  double double_maximum = 0.0;
  Text string_value;    // for an enum: the name of the current choice
  Text string_default;  // for an enum: the name of the default choice
  std::vector<std::string> enum_names;
};

std::vector<OptRecord> Opts;
int SensitiveOptions = 1;
int SensitiveEnums = 0;
bool FreeRegistered = false;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int Lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }

bool SameLetter(char a, char b) { return SensitiveOptions ? a == b : Lower(a) == Lower(b); }

bool SameName(const char* a, const char* b) {
  return SensitiveOptions ? std::strcmp(a, b) == 0 : strcasecmp(a, b) == 0;
}

// True when both records belong to the same option: same letter, and both
// without long name or both with the same one.
bool SameIdentity(const OptRecord& a, const OptRecord& b) {
  if (!SameLetter(a.letter, b.letter)) return false;
  if (!a.name || !b.name) return !a.name && !b.name;
  return SameName(a.name.get(), b.name.get());
}

[[noreturn]] void ProgrammingError(const char* format, ...) __attribute__((format(printf, 1, 2)));

void ProgrammingError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
  std::abort();
}

OptRecord& LastRecord(const char* caller) {
  if (Opts.empty()) ProgrammingError("%s: the option table is empty\n", caller);
  return Opts.back();
}

OptRecord& AppendRecord(char letter, const char* name) {
  if (!FreeRegistered) {
    std::atexit(FreeOptions);
    FreeRegistered = true;
  }
  Opts.emplace_back();
  OptRecord& record = Opts.back();
  record.letter = letter;
  if (name != nullptr && name[0] != '\0') record.name = CopyText(name);
  return record;
}

// Appends the next value record of the option declared last.
OptRecord& AppendValue(int type, const char* caller) {
  const OptRecord& last = LastRecord(caller);
  char letter = last.letter;
  int index = last.value_index + 1;
  Text name = CopyText(last.name.get());  // last is invalidated by the append
  OptRecord& record = AppendRecord(letter, name.get());
  record.value_index = index;
  record.type = type;
  return record;
}

const OptRecord& FindByLetter(char letter, int index, const char* getter) {
  for (const OptRecord& record : Opts)
    if (record.value_index == index && SameLetter(record.letter, letter)) return record;
  if (letter == 0)
    ProgrammingError("%s: no option without letter has value index %i\n", getter, index);
  ProgrammingError("%s: no option -%c has value index %i\n", getter, letter, index);
}

const OptRecord& FindByName(const char* name, int index, const char* getter) {
  for (const OptRecord& record : Opts)
    if (record.value_index == index && record.name && name && SameName(record.name.get(), name))
      return record;
  ProgrammingError("%s: no option --%s has value index %i\n", getter, name ? name : "(null)",
                   index);
}

}  // namespace

// ---------------------------------------------------------------------------
// Declaration

void optAdd(char letter, const char* name) { AppendRecord(letter, name); }

void optAddFlag(char letter, const char* name, int default_value) {
  OptRecord& record = AppendRecord(letter, name);
  record.flag = true;
  record.bool_value = default_value;
  record.bool_default = default_value;
}

void optAddValueBool(int default_value) {
  OptRecord& record = AppendValue(OPT_BOOL, "optAddValueBool");
  record.bool_value = default_value;
  record.bool_default = default_value;
}

void optAddValueInteger(int default_value, int minimum, int maximum) {
  OptRecord& record = AppendValue(OPT_INTEGER, "optAddValueInteger");
  record.int_value = default_value;
  record.int_default = default_value;
  record.int_minimum = minimum;
  record.int_maximum = maximum;
}

void optAddValueDouble(double default_value, double minimum, double maximum) {
  OptRecord& record = AppendValue(OPT_DOUBLE, "optAddValueDouble");
  record.double_value = default_value;
  record.double_default = default_value;
  record.double_minimum = minimum;
  record.double_maximum = maximum;
}

void optAddValueString(const char* default_value) {
  OptRecord& record = AppendValue(OPT_STRING, "optAddValueString");
  record.string_value = CopyText(default_value);
  record.string_default = CopyText(default_value);
}

void optAddValueEnum(int default_index, int count, const char* const names[]) {
  if (count < 1 || default_index < 0 || default_index >= count)
    ProgrammingError("optAddValueEnum: default index %i outside 0 to %i\n", default_index,
                     count - 1);
  OptRecord& record = AppendValue(OPT_ENUM, "optAddValueEnum");
  record.enum_names.assign(names, names + count);
  record.string_value = CopyText(names[default_index]);
  record.string_default = CopyText(names[default_index]);
}

void optCompulsory() { LastRecord("optCompulsory").compulsory = true; }

void optUsage(const char* line) {
  OptRecord& record = LastRecord("optUsage");
  std::string help = record.help ? record.help.get() : "";
  help += '\t';
  help += line;
  help += '\n';
  record.help = CopyText(help.c_str());
}

void optCaseInsensitiveOptions() { SensitiveOptions = 0; }

void optCaseSensitiveEnums() { SensitiveEnums = 1; }

void FreeOptions() { std::vector<OptRecord>().swap(Opts); }

// ---------------------------------------------------------------------------
// Getters: each reads one field of the first matching record.

#define OPT_GETTER(Type, getter, field)                                                      \
  Type getter(char letter, int index) { return FindByLetter(letter, index, #getter).field; } \
  Type getter##Str(const char* name, int index) {                                            \
    return FindByName(name, index, #getter "Str").field;                                     \
  }

OPT_GETTER(int, optBool, bool_value)
OPT_GETTER(int, optInt, int_value)
OPT_GETTER(double, optDouble, double_value)
OPT_GETTER(const char*, optString, string_value.get())
OPT_GETTER(const char*, optEnum, string_value.get())
OPT_GETTER(int, optGiven, given)
OPT_GETTER(int, optDefaultBool, bool_default)
OPT_GETTER(int, optDefaultInt, int_default)
OPT_GETTER(double, optDefaultDouble, double_default)
OPT_GETTER(const char*, optDefaultString, string_default.get())
OPT_GETTER(const char*, optDefaultEnum, string_default.get())
OPT_GETTER(int, optMinimumInt, int_minimum)
OPT_GETTER(int, optMaximumInt, int_maximum)
OPT_GETTER(double, optMinimumDouble, double_minimum)
OPT_GETTER(double, optMaximumDouble, double_maximum)

#undef OPT_GETTER

// ---------------------------------------------------------------------------
// Parser

namespace {

int Fail(FILE* errors, int code, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Writes the message (when there is a stream) and returns code.
int Fail(FILE* errors, int code, const char* format, ...) {
  if (errors != nullptr) {
    va_list args;
    va_start(args, format);
    std::vfprintf(errors, format, args);
    va_end(args);
  }
  return code;
}

// 1 or 0 for the accepted spellings, -1 for anything else.
int ReadBool(const char* token) {
  if (std::strcmp(token, "1") == 0) return 1;
  if (strcasecmp(token, "yes") == 0) return 1;
  if (strcasecmp(token, "true") == 0) return 1;
  if (std::strcmp(token, "0") == 0) return 0;
  if (strcasecmp(token, "no") == 0) return 0;
  if (strcasecmp(token, "false") == 0) return 0;
  return -1;
}

// Converts a non-empty token by the record's type and stores it. Numbers are
// stored before their bounds are tested.
int StoreToken(OptRecord& record, const char* token, FILE* errors) {
  switch (record.type) {
    case OPT_BOOL: {
      int value = ReadBool(token);
      if (value < 0) return Fail(errors, 10, "Error: bad boolean value: %s\n", token);
      record.bool_value = value;
      return 0;
    }
    case OPT_INTEGER: {
      char* end;
      long read = std::strtol(token, &end, 0);
      if (*end != '\0') return Fail(errors, 20, "Error: bad integer value: %s\n", token);
      int value = read < INT_MIN ? INT_MIN : read > INT_MAX ? INT_MAX : static_cast<int>(read);
      record.int_value = value;
      if (record.int_minimum == record.int_maximum) return 0;
      if (value < record.int_minimum)
        return Fail(errors, 21, "Error: too small integer value (%i < %i)\n", value,
                    record.int_minimum);
      if (value > record.int_maximum)
        return Fail(errors, 22, "Error: too large integer value (%i > %i)\n", value,
                    record.int_maximum);
      return 0;
    }
    case OPT_DOUBLE: {
      char* end;
      double value = std::strtod(token, &end);
      if (*end != '\0') return Fail(errors, 30, "Error: bad double value: %s\n", token);
      record.double_value = value;
      if (record.double_minimum == record.double_maximum) return 0;
      if (value < record.double_minimum)
        return Fail(errors, 31, "Error: too small double value (%g < %g)\n", value,
                    record.double_minimum);
      if (value > record.double_maximum)
        return Fail(errors, 32, "Error: too large double value (%g > %g)\n", value,
                    record.double_maximum);
      return 0;
    }
    case OPT_ENUM:
      for (const std::string& name : record.enum_names) {
        bool match = SensitiveEnums ? name == token : strcasecmp(name.c_str(), token) == 0;
        if (match) {
          record.string_value = CopyText(name.c_str());
          return 0;
        }
      }
      return Fail(errors, 40, "Error: bad enum value: %s\n", token);
    case OPT_STRING:
      record.string_value = CopyText(token);
      return 0;
    default:
      return 0;
  }
}

// Splits text into tokens on commas and white space and stores them in the
// value records that follow the option record at index option.
int ReadValueArgument(size_t option, const char* text, FILE* errors) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  if (*p == '\0') return 0;
  size_t value = option + 1;
  for (;;) {
    if (value == Opts.size()) {
      while (IsSpace(*p)) ++p;
      return *p == '\0' ? 0 : Fail(errors, 8, "Error: too many values.\n");
    }
    if (Opts[value].value_index == 0) return Fail(errors, 7, "Error: too many values.\n");
    const char* end = p;
    while (*end != '\0' && *end != ',' && !IsSpace(*end)) ++end;
    if (end != p) {
      OptRecord& record = Opts[value];
      ++record.given;
      int code = StoreToken(record, std::string(p, end).c_str(), errors);
      if (code != 0) return code;
    }
    ++value;
    if (*end == '\0' || end[1] == '\0') return 0;
    p = end + 1;
  }
}

// Index of the option record that argument (-k or --name) names, or -1.
long FindOption(const char* argument) {
  bool short_form = argument[2] == '\0';
  for (size_t i = 0; i < Opts.size(); ++i) {
    const OptRecord& record = Opts[i];
    if (record.value_index != 0) continue;
    if (short_form ? SameLetter(record.letter, argument[1])
                   : record.name && SameName(record.name.get(), argument + 2))
      return static_cast<long>(i);
  }
  return -1;
}

// Every compulsory record must have been given, and every non-flag option
// that occurred needs at least one of its values.
int FinalCheck(FILE* errors) {
  bool pending = false;
  for (const OptRecord& record : Opts) {
    if (record.given == 0 && record.compulsory)
      return Fail(errors, 1, "Error: missing compulsory option(s).\n");
    if (record.value_index != 0) {
      if (record.given != 0) pending = false;
      continue;
    }
    if (pending) return Fail(errors, 6, "Error: missing value for option that is not a flag.\n");
    if (record.given != 0) pending = !record.flag;
  }
  if (pending) return Fail(errors, 6, "Error: missing value for option that is not a flag.\n");
  return 0;
}

}  // namespace

int optGivenOption(char letter, const char* name, int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    size_t length = std::strlen(argument);
    if (letter != 0 && length == 2 && argument[0] == '-' && SameLetter(argument[1], letter))
      return 1;
    if (name != nullptr && length >= 3 && argument[0] == '-' && argument[1] == '-' &&
        SameName(argument + 2, name))
      return 1;
  }
  return 0;
}

int optParseCommandLine(int argc, const char* const argv[], FILE* errors) {
  if (argc < 2) {
    for (const OptRecord& record : Opts)
      if (record.given == 0 && record.compulsory)
        return Fail(errors, 1, "Error: you must give the compulsory options.\n");
    return FinalCheck(errors);
  }
  int i = 1;
  while (i < argc) {
    const char* argument = argv[i];
    if (argument[0] != '-')
      return Fail(errors, 2, "Error: option must start with - (short) or -- (long).\n");
    if (argument[1] == '\0') return Fail(errors, 3, "Error: you must give option after - or --\n");
    long option = FindOption(argument);
    if (option < 0) return Fail(errors, 4, "Error: unknown option: %s\n", argument);
    OptRecord& record = Opts[option];
    ++record.given;
    record.bool_value = record.bool_value == 0 ? 1 : 0;

    // The next argument holds the option's values, if it has any.
    if (++i == argc) break;
    const char* values = argv[i];
    if (std::strcmp(values, "--") == 0) {
      if (++i == argc) return Fail(errors, 5, "Error: -- without value.\n");
      values = argv[i];
    } else if (values[0] == '-') {
      if (record.flag) continue;  // read it as the next option
      return Fail(errors, 6, "Error: you must give value for %s\n", argument);
    }
    int code = ReadValueArgument(static_cast<size_t>(option), values, errors);
    if (code != 0) return code;
    ++i;
  }
  return FinalCheck(errors);
}

// ---------------------------------------------------------------------------
// Usage text

namespace {

const char* TypeWord(int type) {
  switch (type) {
    case OPT_BOOL:
      return "bool";
    case OPT_INTEGER:
      return "integer";
    case OPT_DOUBLE:
      return "double";
    case OPT_ENUM:
      return "enum";
    case OPT_STRING:
      return "string";
    default:
      return "";
  }
}

// "  -k/--name type1,type2" listing the value records that follow.
void PrintOptionLine(FILE* stream, size_t option) {
  const OptRecord& record = Opts[option];
  std::fputs("  ", stream);
  if (record.letter != 0) std::fprintf(stream, "-%c", record.letter);
  if (record.letter != 0 && record.name) std::fputc('/', stream);
  if (record.name) std::fprintf(stream, "--%s", record.name.get());
  std::fputc(' ', stream);
  for (size_t i = option + 1; i < Opts.size() && SameIdentity(Opts[i], record); ++i) {
    if (i > option + 1) std::fputc(',', stream);
    std::fprintf(stream, "%s%i", TypeWord(Opts[i].type), Opts[i].value_index);
  }
  std::fputc('\n', stream);
}

// "    type1 = default, [minimum, maximum]" with the declared default.
void PrintValueLine(FILE* stream, const OptRecord& record) {
  std::fputs("    ", stream);
  int index = record.value_index;
  switch (record.type) {
    case OPT_BOOL:
      std::fprintf(stream, "bool%i = %s", index, record.bool_default != 0 ? "yes" : "no");
      break;
    case OPT_INTEGER:
      std::fprintf(stream, "integer%i = %i", index, record.int_default);
      if (record.int_minimum != record.int_maximum)
        std::fprintf(stream, ", [%i, %i]", record.int_minimum, record.int_maximum);
      break;
    case OPT_DOUBLE:
      std::fprintf(stream, "double%i = %g", index, record.double_default);
      if (record.double_minimum != record.double_maximum)
        std::fprintf(stream, ", [%g, %g]", record.double_minimum, record.double_maximum);
      break;
    case OPT_ENUM: {
      std::fprintf(stream, "enum%i = %s, { ", index, record.string_default.get());
      size_t last = record.enum_names.size() - 1;
      for (size_t i = 0; i < last; ++i) std::fprintf(stream, "%s, ", record.enum_names[i].c_str());
      std::fprintf(stream, "%s }", record.enum_names[last].c_str());
      break;
    }
    case OPT_STRING:
      std::fprintf(stream, "string%i", index);
      if (record.string_default) std::fprintf(stream, " = \"%s\"", record.string_default.get());
      break;
  }
  if (record.compulsory) std::fputs("  (must be given)", stream);
  std::fputc('\n', stream);
}

}  // namespace

void optPrintUsage(FILE* stream, const char* program) {
  if (program != nullptr) std::fprintf(stream, "\nUsage: %s [options]\n\n", program);
  std::fputs("Options:\n", stream);
  for (size_t i = 0; i < Opts.size(); ++i) {
    if (Opts[i].value_index == 0)
      PrintOptionLine(stream, i);
    else
      PrintValueLine(stream, Opts[i]);
    if (Opts[i].help) std::fputs(Opts[i].help.get(), stream);
  }
  std::fputc('\n', stream);
}
