#define EXPORT_USER_BUILD
#include "export_user.h"

#include "export_fixture.h"

LONGLONG WINAPI UserCombine(LONG a, LONG b) {
  return FixtureScale(FixtureAdd(a, b), 3, FixtureSum(3, a, b, 100L));
}
