#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// One application object for every test in the process; without a display the widgets draw
// offscreen.
int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
