#ifndef MIXFIT_DRIVER_ATOMICOUTPUT_H
#define MIXFIT_DRIVER_ATOMICOUTPUT_H

// Writing one output file so that it ends up either complete or as it was.
// A regular file, or one that does not exist yet, is written to a temporary
// file in the directory of the file it replaces (symbolic links followed)
// and renamed over it once complete and on the disk. Anything else (a
// device, a FIFO, a process's descriptor) is written in place, as is a file
// whose directory takes no new files; a regular file written in place is
// removed on failure rather than left truncated.

#include <atomic>
#include <cstdio>
#include <string>

// The temporary file of an output being written, for a program that removes
// it when a signal ends the run. The program owns it and hands it to
// AtomicOutput; path holds a complete name whenever registered is set, so a
// signal handler may read it.
struct PendingOutput {
  std::atomic<bool> registered{false};
  char path[4096] = {};
};

// Removes the file registered in pending, if any. Async-signal-safe.
void RemovePending(PendingOutput const& pending);

// One output file being written; not copyable.
class AtomicOutput {
 public:
  // Opens the output to name. While the temporary file exists, its name is
  // registered in pending, unless pending is null or the name too long.
  AtomicOutput(const char* name, PendingOutput* pending);
  // Removes whatever an output that was not committed left.
  ~AtomicOutput();
  AtomicOutput(AtomicOutput const&) = delete;
  AtomicOutput& operator=(AtomicOutput const&) = delete;

  // The stream to write to; null when the output could not be opened.
  FILE* file() const { return file_; }

  // Completes the output: flushes it and, for a temporary file (which has
  // the permission bits of the file it replaces), forces it to the disk and
  // renames it over that file. False when any of it failed, or the output
  // was never opened; the file named is then left as it was.
  bool Commit();

  // The system's error number (errno) of the failure; 0 without one.
  int error() const { return error_; }

 private:
  void Open(const char* name);
  void OpenInPlace(const char* name);
  bool CreateTemporary();
  void Unregister();

  std::string target_;     // the file written or replaced, links resolved
  std::string temporary_;  // empty when the output is written in place
  PendingOutput* pending_;
  FILE* file_ = nullptr;
  bool opened_ = false;
  bool committed_ = false;
  int error_ = 0;
};

#endif
