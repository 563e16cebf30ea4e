#include <gtest/gtest.h>

#ifdef GLOWCAST_TEST_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <cstdlib>

// One application object for every test in the process: the adapters need its event loop. With
// widgets and no display, they draw offscreen.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
#ifdef GLOWCAST_TEST_WIDGETS
    setenv("QT_QPA_PLATFORM", "offscreen", 0); // unless one is chosen
    QApplication application(argc, argv);
#else
    QCoreApplication application(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
