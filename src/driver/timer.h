#ifndef MIXFIT_DRIVER_TIMER_H
#define MIXFIT_DRIVER_TIMER_H

// CPU time of the process and its text forms.
namespace timer {

struct Time {
  unsigned long seconds;
  unsigned long microseconds;  // below 1000000 in every value an operation makes

  Time(unsigned long seconds = 0, unsigned long microseconds = 0)
      : seconds(seconds), microseconds(microseconds) {}
  Time& operator+=(const Time& t);
  // Replaces this value by the absolute difference: never negative or wrapped.
  Time& operator-=(const Time& t);
};

Time operator+(const Time& a, const Time& b);
Time operator-(const Time& a, const Time& b);
bool operator<(const Time& a, const Time& b);

// CPU time consumed by the process so far, user plus system; zero when the
// operating system cannot tell.
Time Now();

// The text forms share one buffer: each call overwrites the previous text.
// "seconds.microseconds", e.g. "3.005000".
const char* StringS(const Time& t);
// "h:mm:ss.microseconds" and a line end, e.g. "1:02:05.000042\n".
const char* StringHMS(const Time& t);

}  // namespace timer

#endif
