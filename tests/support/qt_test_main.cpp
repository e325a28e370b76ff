// main() of the tests that need a QApplication: windows draw offscreen unless
// the caller chose a platform (Xvfb, say).

#include "testruntime.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const lumo::testing::TestRuntimeDirectory runtime;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
