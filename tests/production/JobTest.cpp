#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "production/EngineerPassword.h"
#include "production/ImageHash.h"
#include "production/Job.h"
#include "tests/production/ProductionRig.h"

namespace sonoprog::test {
namespace {

using production::Job;
using production::JobError;
using production::JobRequest;
using production::Target;

struct Built {
    std::optional<Job> job;
    JobError kind;
    std::string error;
};

Built build(const ProductionRig& rig, const JobRequest& r) {
    Built b;
    b.job = production::buildJob(r, rig.dir / "jobs" / "line1.json", rig.paths.setupIni(), rig.keys,
                                 b.kind, b.error);
    return b;
}

TEST(Job, TarnJobTakesTheTabsDefaultsAndNamesTheImageRelatively) {
    ProductionRig rig;
    JobRequest r;
    r.target = Target::Tarn20;
    r.image = rig.tarnImage(24);
    r.allowError = 5;
    const auto b = build(rig, r);
    ASSERT_TRUE(b.job) << b.error;
    const Job& job = *b.job;
    EXPECT_EQ(job.name, "line1");
    EXPECT_EQ(job.image, "../image.bin");
    EXPECT_EQ(job.imageSha256, production::sha256File(r.image));
    EXPECT_EQ(job.checkSum.size(), 8u);
    EXPECT_EQ(job.startPage, 0u);
    EXPECT_EQ(job.writePages, 24u);
    EXPECT_EQ(job.infoPage, 17u);
    EXPECT_EQ(job.allowError, 5u);
    EXPECT_EQ(production::imagePath(job, rig.dir / "jobs" / "line1.json").lexically_normal(),
              r.image.lexically_normal());

    // The file round-trips, and its JSON has the fields by their names.
    std::string error;
    EXPECT_EQ(production::jobFromJson(production::jobToJson(job), error), job) << error;
    const auto j = nlohmann::json::parse(production::jobToJsonLine(job));
    EXPECT_EQ(j.at("target"), "tarn20");
    EXPECT_EQ(j.at("image").at("checksum"), job.checkSum);
    EXPECT_EQ(j.at("steps").at("write_pages"), 24);
    EXPECT_FALSE(j.contains("device"));
}

TEST(Job, KivaJobCarriesTheCheckWordAndSerialFlashItsDevice) {
    ProductionRig rig;
    JobRequest kiva;
    kiva.target = Target::Kiva300;
    kiva.image = rig.kivaImage();
    kiva.blankCheck = true;
    const auto k = build(rig, kiva);
    ASSERT_TRUE(k.job) << k.error;
    EXPECT_EQ(k.job->checkSum.size(), 4u);
    EXPECT_TRUE(k.job->blankCheck);

    JobRequest flash;
    flash.target = Target::SerialFlash;
    flash.device = "W25Q16";
    flash.image = rig.dir.write("f.bin", std::string("\x01\x02\xFF", 3));
    const auto f = build(rig, flash);
    ASSERT_TRUE(f.job) << f.error;
    EXPECT_EQ(f.job->checkSum, "00000102");
    EXPECT_EQ(f.job->device, "W25Q16");
}

TEST(Job, InconsistentRequestsAreUsageErrors) {
    ProductionRig rig;
    const auto bin = rig.tarnImage(4);
    auto expectUsage = [&](JobRequest r, const std::string& words) {
        const auto b = build(rig, r);
        EXPECT_FALSE(b.job);
        EXPECT_EQ(b.kind, JobError::Usage) << b.error;
        EXPECT_NE(b.error.find(words), std::string::npos) << b.error;
    };
    JobRequest r;
    r.image = bin;
    r.target = Target::SerialFlash;
    expectUsage(r, "--device");
    r.device = "NoSuchChip";
    expectUsage(r, "NoSuchChip");
    r.target = Target::Kiva300;
    r.device = "W25Q80";
    expectUsage(r, "--device");
    r.device.clear();
    r.startPage = 2;
    expectUsage(r, "tarn20 job only");
    r = {};
    r.image = bin;
    r.blankCheck = true;
    expectUsage(r, "blank");
    r.blankCheck = false;
    r.writePages = 5;
    expectUsage(r, "--count");
    r.writePages = 0;
    expectUsage(r, "--count");

    // The image itself: not whole pages, missing, not a DAT file.
    JobRequest odd;
    odd.image = rig.dir.write("odd.bin", std::string(1000, 'x'));
    auto b = build(rig, odd);
    EXPECT_EQ(b.kind, JobError::Image);
    odd.image = rig.dir / "none.bin";
    b = build(rig, odd);
    EXPECT_EQ(b.kind, JobError::Image);
    odd.target = Target::Kiva300;
    odd.image = bin;
    b = build(rig, odd);
    EXPECT_EQ(b.kind, JobError::Image);
}

TEST(Job, FilesThatAreNotJobsAreRefused) {
    ProductionRig rig;
    JobRequest r;
    r.image = rig.tarnImage(20);
    const auto built = build(rig, r);
    ASSERT_TRUE(built.job) << built.error;
    const std::string good = production::jobToJson(*built.job);
    std::string error;
    EXPECT_FALSE(production::jobFromJson("{", error));
    EXPECT_FALSE(production::jobFromJson("[]", error));
    auto edit = [&](auto change) {
        auto j = nlohmann::json::parse(good);
        change(j);
        return production::jobFromJson(j.dump(), error);
    };
    EXPECT_FALSE(edit([](auto& j) { j["target"] = "tarn21"; }));
    EXPECT_FALSE(edit([](auto& j) { j["device"] = "W25Q80"; }));
    EXPECT_FALSE(edit([](auto& j) { j["image"]["sha256"] = std::string(64, 'A'); }));
    EXPECT_FALSE(edit([](auto& j) { j["image"]["checksum"] = "123"; }));
    EXPECT_FALSE(edit([](auto& j) { j["steps"]["verify"] = false; }));
    EXPECT_FALSE(edit([](auto& j) { j["steps"]["blank_check"] = true; }));
    EXPECT_FALSE(edit([](auto& j) { j["steps"]["start_page"] = -1; }));
    EXPECT_FALSE(edit([](auto& j) { j.erase("name"); }));
    EXPECT_TRUE(edit([](auto& j) { j["steps"].erase("info_page"); }));

    // The job's own hash is of its bytes as they are on disk.
    const auto file = rig.dir.write("j.json", good);
    const auto loaded = production::loadJob(file, error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->fileSha256, production::sha256Hex(good));
    EXPECT_FALSE(production::loadJob(rig.dir / "missing.json", error));
}

// Files are read in blocks sized by the file: the sizes around a block's
// edge hash as their bytes do.
TEST(ImageHash, FilesHashAsTheirBytesAtEverySizeAroundABlock) {
    TempDir dir;
    for (std::size_t size : {0u, 1u, 4095u, 131071u, 131072u, 131073u, 400000u}) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + i / 977);
        const auto file = dir.write("sized.bin", bytes);
        EXPECT_EQ(production::sha256File(file), production::sha256Hex(bytes)) << size;
    }
    EXPECT_EQ(production::sha256Hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(ImageHash, KnownDigestsAndTheCacheReHashesOnAnyChange) {
    EXPECT_EQ(production::sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    TempDir dir;
    const auto file = dir.write("img.bin", std::string("abc"));
    production::ImageHashCache cache;
    EXPECT_EQ(cache.hash(file), production::sha256Hex("abc"));
    EXPECT_EQ(cache.hash(file), production::sha256Hex("abc"));
    EXPECT_EQ(cache.reads(), 1);

    // Same size, new content: the modification time tells.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    dir.write("img.bin", std::string("abd"));
    EXPECT_EQ(cache.hash(file), production::sha256Hex("abd"));
    EXPECT_EQ(cache.reads(), 2);

    // Content and time put back as they were on a new file (a copy over it): the inode tells.
    const auto other = dir.write("other.bin", std::string("xyz"));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    std::filesystem::rename(other, file);
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(cache.hash(file), production::sha256Hex("xyz"));
    EXPECT_EQ(cache.reads(), 3);

    std::filesystem::remove(file);
    EXPECT_EQ(cache.hash(file), std::nullopt);
    EXPECT_EQ(cache.hash(dir.path()), std::nullopt);
}

TEST(EngineerPassword, SaltedHashChecksOnlyTheRightPassword) {
    const auto a = production::makePasswordHash("open sesame", 1000);
    const auto b = production::makePasswordHash("open sesame", 1000);
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);  // a fresh salt each time
    EXPECT_EQ(a->rfind("pbkdf2-sha256$1000$", 0), 0u);
    EXPECT_TRUE(production::checkPassword("open sesame", *a));
    EXPECT_TRUE(production::checkPassword("open sesame", *b));
    EXPECT_FALSE(production::checkPassword("open sesame ", *a));
    EXPECT_FALSE(production::checkPassword("", *a));
    std::string tampered = *a;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_FALSE(production::checkPassword("open sesame", tampered));
    for (const char* bad : {"", "open sesame", "pbkdf2-sha256$0$00$00", "md5$1000$00$00",
                            "pbkdf2-sha256$99999999999$00$0000000000000000000000000000000000",
                            "pbkdf2-sha256$1000$zz$00000000000000000000000000000000"})
        EXPECT_FALSE(production::checkPassword("open sesame", bad)) << bad;
}

TEST(EngineerPassword, AnOlderHashIsMadeAgainWithTodaysIterations) {
    const auto made = production::makePasswordHash("open sesame");
    ASSERT_TRUE(made);
    EXPECT_EQ(made->rfind("pbkdf2-sha256$600000$", 0), 0u);
    const auto old = production::makePasswordHash("open sesame", 200000);
    ASSERT_TRUE(old);
    EXPECT_TRUE(production::checkPassword("open sesame", *old)) << "still unlocks";
    const auto stronger = production::strongerPasswordHash("open sesame", *old);
    ASSERT_TRUE(stronger);
    EXPECT_EQ(stronger->rfind("pbkdf2-sha256$600000$", 0), 0u);
    EXPECT_TRUE(production::checkPassword("open sesame", *stronger));
    EXPECT_FALSE(production::strongerPasswordHash("open sesame", *made)) << "enough already";
    EXPECT_FALSE(production::strongerPasswordHash("open sesame", "md5$1000$00$00"));

    // Only the first EngineerPassword= of [Production] changes; every other byte stays.
    const struct {
        const char* ini;
        std::optional<std::string> expected;
    } files[] = {
        {"[Production]\nEnabled=1\nEngineerPassword=OLD\n",
         "[Production]\nEnabled=1\nEngineerPassword=NEW\n"},
        {"; top\r\n[production]\r\n  engineerpassword = OLD\r\nEngineerPassword=OLD\r\n",
         "; top\r\n[production]\r\n  engineerpassword =NEW\r\nEngineerPassword=OLD\r\n"},
        {"[Records]\nEngineerPassword=OLD\n[Production]\nEngineerPassword=OLD",
         "[Records]\nEngineerPassword=OLD\n[Production]\nEngineerPassword=NEW"},
        {"[Records]\nEngineerPassword=OLD\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& f : files)
        EXPECT_EQ(production::withEngineerPassword(f.ini, "NEW"), f.expected) << f.ini;
}

}  // namespace
}  // namespace sonoprog::test
