#include <QCoreApplication>
#include <gtest/gtest.h>

// Port events are delivered by the event loop, so every test needs an application.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
