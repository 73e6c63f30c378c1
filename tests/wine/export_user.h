// A DLL that imports export_fixture through its import library, as the
// library imports the host's base library.
#pragma once

#include <windows.h>

#ifdef EXPORT_USER_BUILD
#define EXPORT_USER_API __declspec(dllexport)
#else
#define EXPORT_USER_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// FixtureScale(FixtureAdd(a, b), 3, FixtureSum(3, a, b, 100)).
EXPORT_USER_API LONGLONG WINAPI UserCombine(LONG a, LONG b);

#ifdef __cplusplus
}
#endif
