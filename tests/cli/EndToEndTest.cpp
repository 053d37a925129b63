#include <gtest/gtest.h>

#include <string>

#include "tests/cli/CliRunner.h"

using namespace sonoprog::test;

TEST(CliBasics, VersionAndHelp) {
    auto version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Sonoprog V1.0.0\n");
    EXPECT_EQ(version.err, "");

    auto help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: sonoprog-cli [--writer usb|sim|sim:DIR]", 0), 0u);
    EXPECT_NE(help.out.find("  editor       build PROJECT.log OUT.bin\n"), std::string::npos);
}

TEST(CliBasics, UsageErrorsExitTwoWithAMessageAndNoOutput) {
    for (auto args :
         std::vector<std::vector<std::string>>{{},
                                               {"bogus"},
                                               {"tarn", "write"},
                                               {"tarn", "write", "a.bin", "--start", "12abc"},
                                               {"tarn", "verify", "a.bin", "--allow-error", ""},
                                               {"--writer", "serial", "kiva", "blank"},
                                               {"nor", "write", "a.bin"},
                                               {"kiva", "blank", "--frobnicate", "1"}}) {
        auto run = runCli(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("sonoprog-cli: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("Try 'sonoprog-cli --help'."), std::string::npos);
    }
}
