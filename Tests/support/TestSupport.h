#pragma once

#include <QString>

// Helpers shared by the tests.
namespace TestSupport {

// The folder that holds the test sources (fixtures, golden files).
QString sourceDir();
// The folder that holds the test executables and the helper programs built beside them.
QString binaryDir();

} // namespace TestSupport
