// Regular-expression pieces for death tests that run on every target.
#ifndef TESTS_DEATHREGEX_H
#define TESTS_DEATHREGEX_H

#include <gtest/gtest.h>

// One or more digits: GoogleTest's own simple expressions on Windows know \d
// but no brackets; POSIX expressions know brackets but no \d.
#ifdef GTEST_USES_SIMPLE_RE
#define QX_DIGITS_RE "\\d+"
#else
#define QX_DIGITS_RE "[0-9]+"
#endif

#endif  // TESTS_DEATHREGEX_H
