#define EXPORT_FIXTURE_BUILD
#include "export_fixture.h"

#include <stdarg.h>

LONG WINAPI FixtureAdd(LONG a, LONG b) { return a + b; }

LONGLONG WINAPI FixtureScale(LONGLONG value, LONG factor, LONG bias) {
  return value * factor + bias;
}

LONG FixtureSum(LONG count, ...) {
  va_list ap;
  va_start(ap, count);
  LONG sum = 0;
  for (LONG i = 0; i < count; ++i) sum += va_arg(ap, LONG);
  va_end(ap);
  return sum;
}
