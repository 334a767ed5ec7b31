#include "driver/timer.h"

#include <sys/resource.h>

#include <cstdio>

namespace timer {

namespace {
// Large enough for any pair of 64-bit values in either format.
char Buffer[64];
}  // namespace

Time& Time::operator+=(const Time& t) {
  seconds += t.seconds;
  microseconds += t.microseconds;
  if (microseconds > 999999) {
    seconds += 1;
    microseconds -= 1000000;
  }
  return *this;
}

namespace {
// larger - smaller, borrowing one second when the microseconds need it.
Time Subtract(const Time& larger, const Time& smaller) {
  Time result = larger;
  if (result.microseconds < smaller.microseconds) {
    result.seconds -= 1;
    result.microseconds += 1000000;
  }
  result.seconds -= smaller.seconds;
  result.microseconds -= smaller.microseconds;
  return result;
}
}  // namespace

Time& Time::operator-=(const Time& t) {
  if (t < *this)
    *this = Subtract(*this, t);
  else if (*this < t)
    *this = Subtract(t, *this);
  else
    *this = Time(0, 0);
  return *this;
}

Time operator+(const Time& a, const Time& b) {
  Time result = a;
  result += b;
  return result;
}

Time operator-(const Time& a, const Time& b) {
  Time result = a;
  result -= b;
  return result;
}

bool operator<(const Time& a, const Time& b) {
  return a.seconds < b.seconds || (a.seconds == b.seconds && a.microseconds < b.microseconds);
}

Time Now() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return Time(0, 0);
  unsigned long seconds = static_cast<unsigned long>(usage.ru_utime.tv_sec) +
                          static_cast<unsigned long>(usage.ru_stime.tv_sec);
  unsigned long nanoseconds = static_cast<unsigned long>(usage.ru_utime.tv_usec) * 1000ul +
                              static_cast<unsigned long>(usage.ru_stime.tv_usec) * 1000ul;
  if (nanoseconds > 999999999ul) {
    seconds += 1;
    nanoseconds -= 1000000000ul;
  }
  return Time(seconds, nanoseconds / 1000ul);
}

const char* StringS(const Time& t) {
  snprintf(Buffer, sizeof Buffer, "%lu.%06lu", t.seconds, t.microseconds);
  return Buffer;
}

const char* StringHMS(const Time& t) {
  snprintf(Buffer, sizeof Buffer, "%lu:%02lu:%02lu.%06lu\n", t.seconds / 3600,
           (t.seconds / 60) % 60, t.seconds % 60, t.microseconds);
  return Buffer;
}

}  // namespace timer
