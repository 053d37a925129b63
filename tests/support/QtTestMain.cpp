#include <gtest/gtest.h>

#include "gui/Application.h"

// main() of every GUI test group: the program's own application object, on
// the offscreen platform unless the caller chose one (test discovery runs the
// binary without ctest's environment).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    sonoprog::gui::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
