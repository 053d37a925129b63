#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include "core/NumberText.h"
#include "ivr/Ivr2bin.h"
#include "ivr/IvrEncoder.h"

#include "tests/cli/CliRunner.h"

using namespace sonoprog::test;
namespace ivr = sonoprog::ivr;

namespace {

class KivaCli : public CliTest {};

}  // namespace

// ---------------------------------------------------------------- Kiva300

TEST_F(KivaCli, AKeyFileBesideTheProgramDecodesAsInTheWindow) {
    // A copy of the program with an installation's own IvrKeys.bin beside it.
    const auto installed = dir.path() / "installed";
    std::filesystem::create_directories(installed);
    const auto program = installed / "sonoprog-cli";
    std::filesystem::copy_file(cliProgram(), program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::vector<std::uint8_t> keyBytes(ivr::kIvrKeyFileSize);
    for (std::size_t i = 0; i < keyBytes.size(); ++i)
        keyBytes[i] = static_cast<std::uint8_t>(i * 29 + 7);
    dir.write("installed/IvrKeys.bin", keyBytes);
    const ivr::IvrKeys ownKeys = ivr::IvrKeys::fromFolder(installed);
    ASSERT_TRUE(ownKeys.fromKeyFile());

    std::vector<std::uint8_t> image(4096);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 5);
    image[0] = 8;  // header length 16: the check word in bytes 14-15
    image[1] = 0;
    const auto dat = dir.path() / "own.dat";
    ASSERT_TRUE(ivr::ImageToIvrFile(dat, image.data(), image.size(), {32, 16, 2064}, ownKeys));
    const std::vector<std::uint8_t> unstamped = image;
    const std::uint16_t word = ivr::ivrCheckWord(image.data(), image.size());
    image[14] = static_cast<std::uint8_t>(word);
    image[15] = static_cast<std::uint8_t>(word >> 8);
    const std::string sumLine = "    [O] File check sum: " + sonoprog::core::hex4(word) + "\n";

    const std::vector<std::string> common = {"--writer", dir.sim(), "--temp", dir.temp(), "--yes"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), common.begin(), common.end());
        return args;
    };
    const auto decoded = dir.path() / "decoded.bin";
    auto own = runProgram(program, with({"ivr", "decode", dat.string(), decoded.string()}));
    ASSERT_EQ(own.status, 0) << own.err;
    EXPECT_EQ(readFile(decoded), image);
    auto load = runProgram(program, with({"kiva", "load", dat.string()}));
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_NE(load.out.find(sumLine), std::string::npos) << load.out;

    // The program without a key file reads the same file with the built-in keys.
    auto plain = run({"--yes", "ivr", "decode", dat.string(), decoded.string()});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(readFile(decoded), image);
    auto plainLoad = run({"kiva", "load", dat.string()});
    EXPECT_EQ(plainLoad.out.find(sumLine), std::string::npos) << plainLoad.out;

    // Encoding takes the same table: the installed program's DAT decodes
    // back under its keys.
    const auto plainImage = dir.write("plain.bin", unstamped);
    const auto reencoded = dir.path() / "again.dat";
    auto encode =
        runProgram(program, with({"ivr", "encode", plainImage.string(), reencoded.string(),
                                  "--data-offset", "32", "--start", "16", "--end", "2064"}));
    ASSERT_EQ(encode.status, 0) << encode.err;
    EXPECT_EQ(readFile(reencoded), readFile(dat));
}

TEST_F(KivaCli, KivaWriteThenVerifyTheSampleDat) {
    const std::string dat = sample("kiva300-demo.dat");
    auto write = run({"kiva", "write", dat});
    EXPECT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_NE(write.out.find("[ WRITE AND VERIFY ]\n"), std::string::npos);
    auto chip = readFile(dir.writerDir() / "kiva300.bin");
    auto image = readFile(sample("kiva300-demo.bin"));
    ASSERT_EQ(chip.size(), 4096u);
    ASSERT_EQ(image.size(), 4096u);
    // The chip holds the decoded image; only the check word was stamped in.
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 14, chip.begin()));
    EXPECT_TRUE(std::equal(image.begin() + 16, image.end(), chip.begin() + 16));

    auto verify = run({"--json", "kiva", "verify", dat});
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_NE(verify.out.find(R"({"kind":"progress","percent":100})"), std::string::npos);

    auto blank = run({"kiva", "blank"});
    EXPECT_EQ(blank.status, 1);
    EXPECT_NE(blank.out.find("    [X] Chip is not blank!\n"), std::string::npos) << blank.out;
    EXPECT_EQ(run({"kiva", "blank"}, "sim").status, 0);
}

TEST_F(KivaCli, CompareTellsABlankChipFromAWrittenOne) {
    const std::string dat = sample("kiva300-demo.dat");
    auto blank = run({"--json", "kiva300", "compare", dat}, "sim");
    EXPECT_EQ(blank.status, 1);
    const auto lines = blank.outLines();
    ASSERT_GE(lines.size(), 2u);
    // The sample's image has 0xFF bytes of its own, so the blank chip differs
    // in several runs, every one of them never programmed.
    const auto found = nlohmann::json::parse(lines[lines.size() - 2]);
    ASSERT_FALSE(found.at("ranges").empty());
    for (const auto& r : found.at("ranges")) EXPECT_EQ(r.at("hint"), "not programmed");
    EXPECT_EQ(
        nlohmann::json::parse(lines.back()).at("message").get<std::string>().rfind("DIFFER ", 0),
        0u);

    ASSERT_EQ(run({"kiva", "write", dat}).status, 0);
    auto written = run({"kiva", "compare", dat});
    EXPECT_EQ(written.status, 0) << written.out;
    EXPECT_EQ(written.outLines().back(), "SAME");
}

TEST_F(KivaCli, KivaFailures) {
    auto garbage = run({"kiva", "write", dir.write("x.dat", std::string("not an ivr")).string()});
    EXPECT_EQ(garbage.status, 1);
    EXPECT_NE(garbage.out.find("    [X] Error IVR file!\n"), std::string::npos) << garbage.out;
    EXPECT_FALSE(std::filesystem::exists(dir.writerDir() / "kiva300.bin"));

    writerIni("[Kiva300]\nDetectStatus=0x10\n");
    auto vdd = run({"kiva", "write", sample("kiva300-demo.dat")});
    EXPECT_EQ(vdd.status, 1);
    EXPECT_NE(vdd.out.find("    [X]  VDD failed!\n"), std::string::npos) << vdd.out;
    auto blank = run({"kiva", "blank"});
    EXPECT_NE(blank.out.find("    [X] VDD failed!\n"), std::string::npos) << blank.out;

    writerIni("[Writer]\nFailFrom=5\n");
    auto pulled = run({"kiva", "blank"});
    EXPECT_EQ(pulled.status, 3);
    EXPECT_EQ(lastLines(pulled, 4),
              (std::vector<std::string>{"    [X] USB failed!", "  -> Disable chip...",
                                        "    [X] USB failed!", "  -> Done!"}));
    EXPECT_NE(pulled.err.find("ERROR: Input/Output Error\n"), std::string::npos);
}

// ---------------------------------------------------------------- IVR converter

TEST_F(KivaCli, IvrEncodeThenDecodeGivesTheImageBack) {
    std::vector<std::uint8_t> image(4096);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    image[0] = 0x08;  // header length 16
    image[1] = 0x00;
    const std::string in = dir.write("image.bin", image).string();
    const std::string dat = (dir.path() / "image.dat").string();
    auto enc =
        run({"ivr", "encode", in, dat, "--data-offset", "32", "--start", "16", "--end", "0xFF0"});
    EXPECT_EQ(enc.status, 0) << enc.err;
    const std::string out = (dir.path() / "back.bin").string();
    auto dec = run({"ivr", "decode", dat, out});
    EXPECT_EQ(dec.status, 0) << dec.err;
    auto back = readFile(out);
    ASSERT_EQ(back.size(), 4096u);
    // Bytes 0-5 and 16 on, plus the check word, add up to 0 modulo 65,536.
    const unsigned checkWord = back[14] | (back[15] << 8);
    std::uint16_t sum = static_cast<std::uint16_t>(checkWord);
    for (std::size_t i = 0; i < back.size(); ++i)
        if (i < 6 || i >= 16) sum = static_cast<std::uint16_t>(sum + back[i]);
    EXPECT_EQ(sum, 0);
    char word[8];
    std::snprintf(word, sizeof word, "%04X\n", checkWord);
    EXPECT_EQ(dec.out, word);
    EXPECT_TRUE(std::equal(image.begin() + 16, image.end(), back.begin() + 16));

    // OUT is there from the decode above: replaced only with --yes.
    auto shortImage = run({"--yes", "ivr", "decode", dat, out, "--length", "100"});
    EXPECT_EQ(shortImage.status, 0);
    EXPECT_EQ(readFile(out).size(), 100u);
}

TEST_F(KivaCli, IvrBadInput) {
    auto layout = run({"ivr", "encode", dir.write("i.bin", std::vector<std::uint8_t>(64)).string(),
                       (dir.path() / "o.dat").string(), "--data-offset", "32", "--start", "0",
                       "--end", "12"});
    EXPECT_EQ(layout.status, 2);
    EXPECT_NE(layout.err.find("a multiple of 8"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "o.dat"));
    auto notIvr = run({"ivr", "decode", dir.write("n.dat", std::string(40, 'x')).string(),
                       (dir.path() / "n.bin").string()});
    EXPECT_EQ(notIvr.status, 1);
    EXPECT_NE(notIvr.err.find("Error IVR file!"), std::string::npos);
    auto missing =
        run({"ivr", "decode", (dir.path() / "none.dat").string(), (dir.path() / "n.bin").string()});
    EXPECT_EQ(missing.status, 4);
    EXPECT_NE(missing.err.find("Can not open this file!"), std::string::npos);
    EXPECT_EQ(run({"ivr", "decode", "a", "b", "--length", "0"}).status, 2);
}
