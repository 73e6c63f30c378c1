// A tiny DLL built the way the library's DLLs are: two standard-call
// functions and one variadic C function, exported with MSVC-style names by
// vek_decorated_exports.
#pragma once

#include <windows.h>

#ifdef EXPORT_FIXTURE_BUILD
#define EXPORT_FIXTURE_API __declspec(dllexport)
#else
#define EXPORT_FIXTURE_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

EXPORT_FIXTURE_API LONG WINAPI FixtureAdd(LONG a, LONG b);
// 64-bit argument: decorated size 16, which catches size miscounts.
EXPORT_FIXTURE_API LONGLONG WINAPI FixtureScale(LONGLONG value, LONG factor, LONG bias);
EXPORT_FIXTURE_API LONG FixtureSum(LONG count, ...);

#ifdef __cplusplus
}
#endif
