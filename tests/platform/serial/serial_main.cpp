// QSerialPort needs an event loop for its notifications: the tests run
// under a QCoreApplication and wait with bounded event-loop turns.

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
