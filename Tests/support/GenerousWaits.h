#pragma once

// Included ahead of every test source. A wait for the program's own work or for another process that
// names no time of its own waits a minute, not QtTest's five seconds: on a busy machine the work comes
// late, and a wait that gives up early fails a sound program. What never comes still fails, naming
// the wait, well within the test's time limit. A wait that measures a time says its own limit.
#include <QTest>

namespace TestSupport {
inline constexpr int patienceMs = 60000;
}

#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, TestSupport::patienceMs)
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression)                                                                \
    QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, TestSupport::patienceMs)
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, TestSupport::patienceMs)
