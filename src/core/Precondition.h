#pragma once

#include <cstdio>
#include <cstdlib>

// A broken precondition is a programming error: debug builds stop at once with the condition's text.
// Release builds skip the check; callers still never read out of bounds (see Report's accessors).
#ifndef NDEBUG
#define QUELMAR_EXPECTS(condition)                                                                                     \
    ((condition)                                                                                                       \
         ? static_cast<void>(0)                                                                                        \
         : (std::fprintf(stderr, "%s:%d: precondition failed: %s\n", __FILE__, __LINE__, #condition), std::abort()))
#else
#define QUELMAR_EXPECTS(condition) static_cast<void>(0)
#endif
