#include <csv.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "records/RecordFormat.h"
#include "tests/records/RecordsFixture.h"

namespace sonoprog::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Parses CSV with a standard strict parser, row by row.
Rows parseCsv(const std::string& text) {
    struct Sink {
        Rows rows;
        std::vector<std::string> row;
    } sink;
    csv_parser parser;
    EXPECT_EQ(csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI), 0);
    const auto onField = [](void* data, size_t size, void* out) {
        static_cast<Sink*>(out)->row.emplace_back(static_cast<const char*>(data), size);
    };
    const auto onRow = [](int, void* out) {
        auto* s = static_cast<Sink*>(out);
        s->rows.push_back(std::move(s->row));
        s->row.clear();
    };
    EXPECT_EQ(csv_parse(&parser, text.data(), text.size(), onField, onRow, &sink), text.size())
        << csv_strerror(csv_error(&parser));
    EXPECT_EQ(csv_fini(&parser, onField, onRow, &sink), 0);
    csv_free(&parser);
    return sink.rows;
}

TEST(RecordFormat, CsvParsesBackToEveryField) {
    const records::UnitRecord failed = fullRecord("id-1", "2026-12-08T10:11:12.345Z");
    records::UnitRecord passed =
        fullRecord("id-2", "2026-12-08T10:11:13.000Z", records::kResultPass);
    passed.writer = "sim:/tmp/a,b";
    passed.mirrored.clear();
    const Rows rows =
        parseCsv(records::csvHeader() + records::csvRow(failed) + records::csvRow(passed));
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::string> header = {
        "id",         "time",         "station",        "operator",  "job_name",
        "job_sha256", "image_sha256", "image_checksum", "target",    "device",
        "writer",     "result",       "failing_step",   "fail_line", "duration_ms",
        "pgm_log",    "vrf_log",      "mirrored",       "lot"};
    EXPECT_EQ(rows[0], header);
    const std::vector<std::string> first = {failed.id,
                                            failed.time,
                                            failed.station,
                                            "Ana, \"night\" shift",
                                            failed.jobName,
                                            failed.jobSha256,
                                            failed.imageSha256,
                                            "0012AB9F",
                                            "tarn20",
                                            "",
                                            failed.writer,
                                            "fail",
                                            "  -> Program chip...",
                                            "Failed at page 0x000120!\nsecond",
                                            "12345",
                                            failed.pgmLog,
                                            failed.vrfLog,
                                            "0x000120>0x00F000 0x000300>0x00F001",
                                            "L-7, tray 2"};
    EXPECT_EQ(rows[1], first);
    EXPECT_EQ(rows[2][10], "sim:/tmp/a,b");
    EXPECT_EQ(rows[2][11], "pass");
    EXPECT_EQ(rows[2][17], "");
    EXPECT_EQ(rows[2][18], "L-7, tray 2");
}

TEST(RecordFormat, CsvCellsAreSafeToOpenInASpreadsheet) {
    // What an operator, a job or a file name holds, and what its cell reads
    // once parsed back.
    const std::pair<std::string, std::string> cases[] = {
        {"=HYPERLINK(\"http://x\",\"y\")", "'=HYPERLINK(\"http://x\",\"y\")"},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tcell", "'\tcell"},
        {"\rcell", "'\rcell"},
        {"a=b -c", "a=b -c"},
        {"Ana", "Ana"},
        {"bell\x07 and escape\x1b[0m and nul", "bell\\x07 and escape\\x1B[0m and nul"},
        {"delete\x7f", "delete\\x7F"},
        {"line\nbreak\tand tab", "line\nbreak\tand tab"},
        {"K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x98\x80", "K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"bad \xff byte", "bad \xef\xbf\xbd byte"},
        {"cut \xe2\x82", "cut \xef\xbf\xbd\xef\xbf\xbd"},
        {"overlong \xc0\xaf", "overlong \xef\xbf\xbd\xef\xbf\xbd"},
        {"surrogate \xed\xa0\x80", "surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const auto& [text, cell] : cases) {
        records::UnitRecord r = fullRecord("id-1", "2026-12-08T10:11:12.345Z");
        r.operatorName = text;
        r.failLine = text;
        r.pgmLog = text;
        r.lot = text;
        const Rows rows = parseCsv(records::csvRow(r));
        ASSERT_EQ(rows.size(), 1u) << text;
        EXPECT_EQ(rows[0][3], cell) << text;
        EXPECT_EQ(rows[0][13], cell) << text;
        EXPECT_EQ(rows[0][15], cell) << text;
        EXPECT_EQ(rows[0][18], cell) << text;
    }
}

TEST(RecordFormat, JsonLineParsesWithEveryFieldAndReadsBack) {
    const records::UnitRecord r = fullRecord("id-1", "2026-12-08T10:11:12.345Z");
    const std::string line = records::recordJsonLine(r);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto j = nlohmann::json::parse(line);
    EXPECT_EQ(j.at("operator"), "Ana, \"night\" shift");
    EXPECT_EQ(j.at("fail_line"), "Failed at page 0x000120!\nsecond");
    EXPECT_EQ(j.at("duration_ms"), 12345);
    EXPECT_EQ(j.at("mirrored"),
              nlohmann::json::parse(R"([{"page":288,"spare":61440},{"page":768,"spare":61441}])"));
    EXPECT_EQ(j.at("kind"), "record");
    EXPECT_EQ(j.at("lot"), "L-7, tray 2");
    EXPECT_EQ(j.size(), 20u);
    EXPECT_EQ(records::recordFromJson(line), r);
    // A line queued by a version before lots reads as a record without one.
    auto old = j;
    old.erase("lot");
    auto withoutLot = r;
    withoutLot.lot.clear();
    EXPECT_EQ(records::recordFromJson(old.dump()), withoutLot);
}

TEST(RecordFormat, JsonThatIsNotARecordIsRefused) {
    const std::string good = records::recordJsonLine(fullRecord("a", "2026-12-08T10:11:12.345Z"));
    EXPECT_EQ(records::recordFromJson("not json"), std::nullopt);
    EXPECT_EQ(records::recordFromJson("[1,2]"), std::nullopt);
    auto j = nlohmann::json::parse(good);
    j.erase("writer");
    EXPECT_EQ(records::recordFromJson(j.dump()), std::nullopt);
    j = nlohmann::json::parse(good);
    j["duration_ms"] = "12";
    EXPECT_EQ(records::recordFromJson(j.dump()), std::nullopt);
    j = nlohmann::json::parse(good);
    j["mirrored"] = nlohmann::json::array({{{"page", -1}, {"spare", 2}}});
    EXPECT_EQ(records::recordFromJson(j.dump()), std::nullopt);
}

}  // namespace
}  // namespace sonoprog::test
