#ifndef MIXFIT_OPTIONS_OPTIONS_H
#define MIXFIT_OPTIONS_OPTIONS_H

#include <cstdio>

// A table-driven command-line option library with one process-wide table.
//
// An option is a run of consecutive records: the option record itself (value
// index 0), then one record per value it takes (value index 1, 2, ...). Each
// value has a type, a default, optional bounds, a compulsory mark and help
// lines. Declare every option, parse the command line, then read the values
// back with the getters, which address a record by short letter (or long
// name, with the Str twins) and value index:
//
//   optAdd('c', "count");
//   optAddValueInteger(1, 1, 1000);
//   optUsage("Number of components.");
//   if (optParseCommandLine(argc, argv, stderr) != 0) { ... }
//   int count = optInt('c', 1);
//
// The table owns copies of every text it is given. It is released at process
// exit by FreeOptions, registered with atexit at the first declaration.
// Asking a getter for a record that is not in the table, or adding a value or
// mark to an empty table, is a programming error: it prints a message to
// stderr and aborts.

// Value type codes of the records; an option record always has OPT_BOOL.
enum OptValueType {
  OPT_BOOL = 1,
  OPT_INTEGER = 2,
  OPT_DOUBLE = 3,
  OPT_ENUM = 4,
  OPT_STRING = 5,
};

// Declaration. A letter of 0 means no short form; a null or empty name means
// no long form. The value, help and compulsory calls act on the last record.
void optAdd(char letter, const char* name);
void optAddFlag(char letter, const char* name, int default_value);
void optAddValueBool(int default_value);
void optAddValueInteger(int default_value, int minimum, int maximum);
void optAddValueDouble(double default_value, double minimum, double maximum);
void optAddValueString(const char* default_value);
void optAddValueEnum(int default_index, int count, const char* const names[]);
void optCompulsory();
void optUsage(const char* line);

// Case switches, one way only. By default letters and long names match
// exactly and enum names match whatever their letter case.
void optCaseInsensitiveOptions();
void optCaseSensitiveEnums();

// Releases the table and everything it owns; runs at process exit. The case
// switches keep their state.
void FreeOptions();

// Getters by short letter (0 finds records without one) and value index.
// Bounds with minimum equal to maximum mean "no bounds". Returned texts stay
// owned by the table.
int optBool(char letter, int index);
int optInt(char letter, int index);
double optDouble(char letter, int index);
const char* optString(char letter, int index);
const char* optEnum(char letter, int index);
int optGiven(char letter, int index);
int optDefaultBool(char letter, int index);
int optDefaultInt(char letter, int index);
double optDefaultDouble(char letter, int index);
const char* optDefaultString(char letter, int index);
const char* optDefaultEnum(char letter, int index);
int optMinimumInt(char letter, int index);
int optMaximumInt(char letter, int index);
double optMinimumDouble(char letter, int index);
double optMaximumDouble(char letter, int index);

// The same getters by long name; records without a long name never match.
int optBoolStr(const char* name, int index);
int optIntStr(const char* name, int index);
double optDoubleStr(const char* name, int index);
const char* optStringStr(const char* name, int index);
const char* optEnumStr(const char* name, int index);
int optGivenStr(const char* name, int index);
int optDefaultBoolStr(const char* name, int index);
int optDefaultIntStr(const char* name, int index);
double optDefaultDoubleStr(const char* name, int index);
const char* optDefaultStringStr(const char* name, int index);
const char* optDefaultEnumStr(const char* name, int index);
int optMinimumIntStr(const char* name, int index);
int optMaximumIntStr(const char* name, int index);
double optMinimumDoubleStr(const char* name, int index);
double optMaximumDoubleStr(const char* name, int index);

// Returns 1 if any of argv[1..argc-1] is -letter or --name, else 0, without
// looking at the table. Lets a caller honour --help before parsing.
int optGivenOption(char letter, const char* name, int argc, const char* const argv[]);

// Parses argv[1..argc-1] into the table. Returns 0 on success or the code of
// the first problem met (1 to 40), after writing one message line to errors
// when errors is not null. Values stored before the problem stay stored.
//
// Syntax: -k or --name, then all its values in the next argument as tokens
// separated by commas or white space ("1,,3" leaves the second untouched).
// A value beginning with a dash must follow an argument "--". A flag may
// stand without a value argument. Each occurrence inverts an option's on/off
// state and counts towards optGiven.
int optParseCommandLine(int argc, const char* const argv[], FILE* errors);

// Writes the usage text generated from the table: a header naming program
// (when not null), every option with its value types, defaults, bounds,
// enum choices, compulsory marks and help lines, and a final empty line.
void optPrintUsage(FILE* stream, const char* program);

#endif
