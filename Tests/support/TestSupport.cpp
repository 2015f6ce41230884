#include "TestSupport.h"

#include <QCoreApplication>

namespace TestSupport {

QString sourceDir()
{
    return qEnvironmentVariable("DOVRIN_TEST_SOURCE_DIR");
}

QString binaryDir()
{
    const QString dir = qEnvironmentVariable("DOVRIN_TEST_BINARY_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

} // namespace TestSupport
