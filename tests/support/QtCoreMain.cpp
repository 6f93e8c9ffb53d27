#include <QCoreApplication>
#include <gtest/gtest.h>

// GoogleTest main with a Qt event loop available to the tests.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
