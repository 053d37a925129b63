#include <gtest/gtest.h>

#include "production/ImageHash.h"
#include "production/JobScan.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {
namespace {

// A scan opens the one job whose file name, or the start of whose file's
// SHA-256, it is; anything else opens nothing and says why.
TEST(JobScan, AScanOpensTheJobItNamesByFileNameOrHash) {
    TempDir dir;
    const auto chime = dir.write("jobs/chime.json", "{\"name\": \"Chime\"}\n");
    dir.write("jobs/bell.json", "{\"name\": \"Bell\"}\n");
    dir.write("jobs/notes.txt", "not a job\n");
    const std::string hash = *production::sha256File(chime);
    std::string upper = hash.substr(0, 12);
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    struct Row {
        std::string scan;
        const char* opens;  // file name, or nullptr for none
    };
    const Row rows[] = {
        {"chime.json", "chime.json"},
        {"chime", "chime.json"},
        {"  chime.json\r\n", "chime.json"},
        {hash.substr(0, 12), "chime.json"},
        {upper, "chime.json"},
        {hash, "chime.json"},
        {hash.substr(0, 11), nullptr},  // too short to be a job's hash
        {"Chime", nullptr},             // the job's name is not its file
        {"notes.txt", nullptr},
        {"notes", nullptr},
        {"", nullptr},
        {"0000000000000", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scan);
        const auto found = production::findScannedJob(row.scan, dir / "jobs");
        if (row.opens) {
            ASSERT_TRUE(found.file) << found.error;
            EXPECT_EQ(found.file->filename(), row.opens);
        } else {
            EXPECT_FALSE(found.file);
            EXPECT_FALSE(found.error.empty());
        }
    }
    EXPECT_FALSE(production::findScannedJob("chime", {}).file);
}

}  // namespace
}  // namespace sonoprog::test
