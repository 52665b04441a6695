// Included ahead of every test source. A test's wait ends as soon as its condition holds; its
// bound only has to catch a hang. QtTest's own five seconds are less than a window, a download or
// a thread may take on a busy machine or under a sanitizer, so the waits get a minute.
#pragma once

#include <QtTest/qtestcase.h>

#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, 60000)
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression) QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, 60000)
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, 60000)
