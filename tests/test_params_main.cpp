// The parameter store's test program: item and database tests, then the
// VFO, channel, band-stack, filter and tuner-memory tests.
#include "tests/params_support.h"

#include <QCoreApplication>

int runParamItemsTests(int argc, char **argv);
int runParamItemsCrashChild(int argc, char **argv);
int runParamItemsReadOnlyChild(int argc, char **argv);
int runParamVfoTests(int argc, char **argv);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIntValue("ZR450_PARAMS_CRASH_CHILD"))
        return runParamItemsCrashChild(argc, argv);
    if (qEnvironmentVariableIntValue("ZR450_PARAMS_READONLY_CHILD"))
        return runParamItemsReadOnlyChild(argc, argv);
    QCoreApplication app(argc, argv);
    int rc = runParamItemsTests(argc, argv);
    rc |= runParamVfoTests(argc, argv);
    return rc;
}
