#pragma once
// TW_PRINTF_FORMAT(f, a): lets the compiler check the arguments of a
// printf-style function whose format is parameter f and whose variable
// arguments start at parameter a (counted from 1). mingw-w64 formats with
// its own C99 printf (so %llu and %zu work); its macro names that flavour, so
// the checks match what the library accepts.
#include <cstdio>  // brings in <_mingw.h> on mingw-w64

#if defined(__MINGW32__) && defined(__MINGW_PRINTF_FORMAT)
#define TW_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define TW_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define TW_PRINTF_FORMAT(f, a)
#endif
