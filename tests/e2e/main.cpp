#include <QCoreApplication>

#include <gtest/gtest.h>

// One application object for every test in the process: the HTTP adapter and the process
// helpers need its event loop.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
