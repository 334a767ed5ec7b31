#ifndef MIXFIT_DRIVER_OUTPUTSIGNALS_H
#define MIXFIT_DRIVER_OUTPUTSIGNALS_H

// For the programs' main functions alone, never the library (a process that
// loads the library owns its signals): SIGINT, SIGTERM and SIGHUP remove the
// temporary file of the output being written, then end the program as they
// would have.

#include <csignal>

#include "driver/atomicoutput.h"

// The program's one record of its temporary output.
inline PendingOutput& ProgramPendingOutput() {
  static PendingOutput pending;
  return pending;
}

inline void RemovePendingAndDie(int number) {
  RemovePending(ProgramPendingOutput());
  raise(number);  // the default action, restored on entry, ends the process
}

// Installs the handlers and returns the record to hand to the writers. A
// signal ignored from the start (as under nohup) stays ignored.
inline PendingOutput* RemovePendingOutputOnSignals() {
  PendingOutput* const pending = &ProgramPendingOutput();
  int const signals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action = {};
  action.sa_handler = RemovePendingAndDie;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int number : signals) sigaddset(&action.sa_mask, number);
  for (int number : signals) {
    struct sigaction before = {};
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      sigaction(number, &action, nullptr);
  }
  return pending;
}

#endif
