#include <gtest/gtest.h>

#include "Application.h"

namespace {

// One application object for every GUI test of the executable.
class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "gui_tests";
        static char* argv[] = {name, nullptr};
        app_ = new sonoprog::gui::Application(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    sonoprog::gui::Application* app_ = nullptr;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
