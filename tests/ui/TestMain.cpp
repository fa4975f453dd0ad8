// The window tests run headless on Qt's offscreen platform, inside the
// program's own application object.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "ui/qt/Application.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    dxfkonv::TApplication application(argc, argv);
    // Closing a window in a test must not end anything.
    application.setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
