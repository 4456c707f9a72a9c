#pragma once

// The library is built with hidden default visibility; only what carries this
// macro is part of its binary interface.
#if defined(HTTPLIB_BUILDING)
#define HTTPLIB_API __attribute__((visibility("default")))
#else
#define HTTPLIB_API
#endif
