// LAGSCAN_API marks what the library exports. The shared library is built
// with every other symbol hidden, so this macro is the whole list of what a
// program linking it can reach. The static library and programs that use it
// see the same declarations without any attribute.
#pragma once

#if defined(LAGSCAN_STATIC_DEFINE)
#define LAGSCAN_API
#elif defined(_WIN32)
#if defined(LAGSCAN_BUILDING_SHARED)
#define LAGSCAN_API __declspec(dllexport)
#else
#define LAGSCAN_API __declspec(dllimport)
#endif
#else
#define LAGSCAN_API __attribute__((visibility("default")))
#endif
