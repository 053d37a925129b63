#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "ivr/Ivr2bin.h"
#include "ivr/IvrEncoder.h"
#include "tests/ivr/IvrReference.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using ivr::IvrLayout;
using test::Block;

namespace {

constexpr std::size_t kN = 4096;

void put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint16_t x) {
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}
void put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

// A DAT file by hand: header with D, S, E, then `data` from offset D (D >= 32).
std::vector<std::uint8_t> dat(std::int16_t d, std::int32_t s, std::int32_t e,
                              const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out(std::max<std::size_t>(32, d > 0 ? d : 0), 0);
    std::memcpy(out.data(), "KIVR", 4);
    put16(out, 6, static_cast<std::uint16_t>(d));
    put32(out, 8, static_cast<std::uint32_t>(s));
    put32(out, 12, static_cast<std::uint32_t>(e));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Image bytes with header length L (first word L / 2).
std::vector<std::uint8_t> imageWithHeader(std::size_t size, std::uint16_t headerLength,
                                          unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> img(size);
    for (auto& b : img) b = static_cast<std::uint8_t>(rng());
    if (size >= 2) put16(img, 0, static_cast<std::uint16_t>(headerLength / 2));
    return img;
}

// The 16-bit sum the check word must cancel, worked out independently.
std::uint16_t checkedSum(const std::vector<std::uint8_t>& img, std::size_t headerLength) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < 6; ++i) sum += img[i];
    for (std::size_t i = headerLength; i < img.size(); ++i) sum += img[i];
    return static_cast<std::uint16_t>(sum);
}

std::vector<std::uint8_t> stamped(std::vector<std::uint8_t> img) {
    const std::size_t l = (static_cast<std::size_t>(img[0] | (img[1] << 8)) & 0x3FFF) * 2;
    const auto word = static_cast<std::uint16_t>(0x10000 - checkedSum(img, l));
    if (l >= 2 && l <= img.size()) put16(img, l - 2, word);
    return img;
}

struct IvrFixture : ::testing::Test {
    int decode(const std::vector<std::uint8_t>& file, std::size_t n = kN) {
        const auto path = dir.write("voice.dat", file);
        out.assign(n, 0xAA);
        return ivr::IvrToImage(path.string(), out.data(), n, table);
    }
    void useTestKeys() {
        keys.write(ivr::kIvrKeyFileName, test::keyFileBytes(test::testKeys()));
        table = ivr::IvrKeys::fromFolder(keys.path());
    }

    test::TempDir dir, noKeys, keys;
    ivr::IvrKeys table = ivr::IvrKeys::fromFolder(noKeys.path());
    std::vector<std::uint8_t> out;
};

std::vector<std::uint8_t> allFF(std::size_t n = kN) {
    return std::vector<std::uint8_t>(n, 0xFF);
}

}  // namespace

TEST_F(IvrFixture, AFileThatCannotBeOpenedLeavesTheBufferAlone) {
    out.assign(kN, 0xAA);
    EXPECT_EQ(ivr::IvrToImage((dir / "missing.dat").string(), out.data(), kN, table),
              ivr::kIvrCannotOpen);
    EXPECT_EQ(out, std::vector<std::uint8_t>(kN, 0xAA));
    EXPECT_EQ(ivr::IvrToImage(dir.path().string(), out.data(), kN, table), ivr::kIvrCannotOpen);
    EXPECT_EQ(ivr::IvrToImage("", out.data(), kN, table), ivr::kIvrCannotOpen);
    EXPECT_EQ(out, std::vector<std::uint8_t>(kN, 0xAA));
}

TEST_F(IvrFixture, ShortOrForeignFilesAreNotIvrAndLeaveAllFF) {
    EXPECT_EQ(decode({}), ivr::kIvrNotIvr);
    EXPECT_EQ(out, allFF());
    const auto header = dat(32, 0, 0, {});
    EXPECT_EQ(decode(std::vector<std::uint8_t>(header.begin(), header.begin() + 20)),
              ivr::kIvrNotIvr);
    EXPECT_EQ(out, allFF());
    auto wrongMagic = dat(32, 0, 0, std::vector<std::uint8_t>(kN, 0x12));
    wrongMagic[3] = 'X';
    EXPECT_EQ(decode(wrongMagic), ivr::kIvrNotIvr);
    EXPECT_EQ(out, allFF());
    // 31 bytes: one short of the header.
    EXPECT_EQ(decode(std::vector<std::uint8_t>(header.begin(), header.begin() + 31)),
              ivr::kIvrNotIvr);
    EXPECT_EQ(out, allFF());
}

TEST_F(IvrFixture, AStretchThatIsNotWholeBlocksIsNotIvr) {
    EXPECT_EQ(decode(dat(32, 0, 12, std::vector<std::uint8_t>(kN, 0))), ivr::kIvrNotIvr);
    EXPECT_EQ(out, allFF());
    EXPECT_EQ(decode(dat(32, 20, 16, std::vector<std::uint8_t>(kN, 0))), ivr::kIvrNotIvr);
    // E - S = -8 passes and deciphers nothing.
    const auto img = imageWithHeader(kN, 16, 1);
    EXPECT_EQ(decode(dat(32, 24, 16, img)), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
}

TEST_F(IvrFixture, PlainFileIsItsDataWithTheCheckWordStamped) {
    const auto img = imageWithHeader(kN, 16, 2);
    ASSERT_EQ(decode(dat(32, 100, 100, img)), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
    // The sum of bytes 0..5, 16..4095 and the word is 0 modulo 65,536.
    const auto word = static_cast<std::uint16_t>(out[14] | (out[15] << 8));
    EXPECT_EQ(static_cast<std::uint16_t>(checkedSum(out, 16) + word), 0);
    EXPECT_EQ(ivr::ivrCheckWord(out.data(), kN), word);
}

TEST_F(IvrFixture, ShortDataIsPaddedWithFFThatCountsInTheCheckWord) {
    auto img = imageWithHeader(1000, 16, 3);
    ASSERT_EQ(decode(dat(40, 0, 0, img)), ivr::kIvrOk);
    auto expected = allFF();
    std::copy(img.begin(), img.end(), expected.begin());
    EXPECT_EQ(out, stamped(expected));
    EXPECT_EQ(std::count(out.begin() + 1000, out.end(), 0xFF), static_cast<long>(kN - 1000));
}

TEST_F(IvrFixture, LongDataIsCutAtTheImageLength) {
    const auto img = imageWithHeader(5000, 16, 4);
    ASSERT_EQ(decode(dat(32, 0, 0, img)), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(std::vector<std::uint8_t>(img.begin(), img.begin() + kN)));
}

TEST_F(IvrFixture, AHeaderLongerThanTheImageGetsNoCheckWord) {
    const auto img = imageWithHeader(kN, 0x7FFE, 5);
    ASSERT_EQ(decode(dat(32, 0, 0, img)), ivr::kIvrOk);
    EXPECT_EQ(out, img);
    // L = N: the word lands in the last two bytes.
    const auto atEnd = imageWithHeader(kN, kN, 6);
    ASSERT_EQ(decode(dat(32, 0, 0, atEnd)), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(atEnd));
    EXPECT_EQ(static_cast<std::uint16_t>(checkedSum(out, kN) + (out[kN - 2] | (out[kN - 1] << 8))),
              0);
}

TEST_F(IvrFixture, HeaderLengthZeroOrTwoKeepsTheWordInsideTheBuffer) {
    const auto zero = imageWithHeader(kN, 0, 7);
    ASSERT_EQ(decode(dat(32, 0, 0, zero)), ivr::kIvrOk);
    EXPECT_EQ(out, zero);  // L - 2 = -2: nothing is stored
    const auto two = imageWithHeader(kN, 2, 8);
    ASSERT_EQ(decode(dat(32, 0, 0, two)), ivr::kIvrOk);
    const auto word = static_cast<std::uint16_t>(0x10000 - checkedSum(two, 2));
    EXPECT_EQ(out[0], static_cast<std::uint8_t>(word));
    EXPECT_EQ(out[1], static_cast<std::uint8_t>(word >> 8));
    EXPECT_TRUE(std::equal(out.begin() + 2, out.end(), two.begin() + 2));
}

TEST_F(IvrFixture, BlocksEightApartUseKeysThreeZeroOneSix) {
    EXPECT_EQ(ivr::ivrKeyNumber(0), 3);
    EXPECT_EQ(ivr::ivrKeyNumber(8), 0);
    EXPECT_EQ(ivr::ivrKeyNumber(16), 1);
    EXPECT_EQ(ivr::ivrKeyNumber(24), 6);
    for (std::int64_t p = 0; p < 100000; p += 8) EXPECT_LT(ivr::ivrKeyNumber(p), 31);

    // Deciphered against libcrypto under the key file's keys.
    useTestKeys();
    const auto keys = test::testKeys();
    std::vector<std::uint8_t> file(64, 0);
    std::vector<Block> cipher(4);
    for (int b = 0; b < 4; ++b) {
        for (int i = 0; i < 8; ++i) cipher[b][i] = static_cast<std::uint8_t>(b * 31 + i * 5);
        std::copy(cipher[b].begin(), cipher[b].end(), file.begin() + b * 8);
    }
    ASSERT_EQ(decode(dat(32, 0, 32, file)), ivr::kIvrOk);
    const int expectedKeys[4] = {3, 0, 1, 6};
    for (int b = 0; b < 4; ++b) {
        Block c = cipher[b];
        std::swap(c[5], c[6]);
        c[0] ^= c[1];
        const Block plain = test::desDecrypt(keys[expectedKeys[b]], c);
        for (int i = 0; i < 8; ++i) {
            const std::size_t at = b * 8 + i;
            const std::size_t l = (static_cast<std::size_t>(out[0] | (out[1] << 8)) & 0x3FFF) * 2;
            if (at + 2 == l || at + 1 == l) continue;  // the check word's place
            EXPECT_EQ(out[at], plain[i]) << "block " << b << " byte " << i;
        }
    }
}

TEST_F(IvrFixture, EncoderRoundTripsOverLayouts) {
    const IvrLayout layouts[] = {
        {32, 0, 0},    {32, 0, 4096}, {32, 16, 2064},   {100, 8, 16},     {40, 4088, 4096},
        {33, 3, 4091}, {1000, 0, 8},  {32767, 24, 120}, {64, 4096, 4096}, {32, 2048, 2048},
    };
    unsigned seed = 10;
    for (const auto& layout : layouts) {
        for (std::uint16_t headerLength : {16, 32, 0, 5000}) {
            const auto img = imageWithHeader(kN, headerLength, ++seed);
            auto file = ivr::ImageToIvr(img.data(), img.size(), layout, table);
            ASSERT_TRUE(file.has_value());
            EXPECT_EQ(file->size(), static_cast<std::size_t>(layout.dataOffset) + kN);
            ASSERT_EQ(decode(*file), ivr::kIvrOk);
            EXPECT_EQ(out, stamped(img)) << "D " << layout.dataOffset << " S " << layout.regionStart
                                         << " E " << layout.regionEnd << " L " << headerLength;
        }
    }
    // Other image lengths round-trip too.
    const auto small = imageWithHeader(200, 16, 99);
    auto file = ivr::ImageToIvr(small.data(), small.size(), {32, 8, 200}, table);
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(decode(*file, 200), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(small));
}

TEST_F(IvrFixture, EncipheredBytesDifferFromThePlainOnes) {
    const auto img = imageWithHeader(kN, 16, 42);
    auto file = ivr::ImageToIvr(img.data(), img.size(), {32, 0, 4096}, table);
    ASSERT_TRUE(file.has_value());
    EXPECT_FALSE(std::equal(img.begin() + 16, img.end(), file->begin() + 48));
}

TEST_F(IvrFixture, EncoderRefusesLayoutsItCannotWrite) {
    const auto img = imageWithHeader(kN, 16, 1);
    EXPECT_FALSE(ivr::ImageToIvr(img.data(), kN, {31, 0, 0}, table));
    EXPECT_FALSE(ivr::ImageToIvr(img.data(), kN, {-5, 0, 0}, table));
    EXPECT_FALSE(ivr::ImageToIvr(img.data(), kN, {32, -8, 0}, table));
    EXPECT_FALSE(ivr::ImageToIvr(img.data(), kN, {32, 16, 8}, table));
    EXPECT_FALSE(ivr::ImageToIvr(img.data(), kN, {32, 0, 12}, table));
    EXPECT_FALSE(ivr::ImageToIvr(img.data(), kN, {32, 4088, 4104}, table));
    EXPECT_FALSE(ivr::ImageToIvrFile(dir / "x.dat", img.data(), kN, {32, 0, 12}, table));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.dat"));
    // A disk that is full when the last bytes go out is a failure too.
    EXPECT_FALSE(ivr::ImageToIvrFile("/dev/full", img.data(), 64, {32, 0, 16}, table));
    EXPECT_TRUE(ivr::ImageToIvrFile(dir / "y.dat", img.data(), kN, {32, 0, 16}, table));
    out.assign(kN, 0);
    EXPECT_EQ(ivr::IvrToImage((dir / "y.dat").string(), out.data(), kN, table), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
}

TEST_F(IvrFixture, AKeyFileOfExactly256BytesReplacesTheBuiltInKeys) {
    const auto img = imageWithHeader(kN, 16, 77);
    auto builtIn = ivr::ImageToIvr(img.data(), kN, {32, 0, 4096}, table);
    ASSERT_TRUE(builtIn.has_value());

    useTestKeys();
    auto underFile = ivr::ImageToIvr(img.data(), kN, {32, 0, 4096}, table);
    ASSERT_TRUE(underFile.has_value());
    EXPECT_NE(*builtIn, *underFile);
    ASSERT_EQ(decode(*underFile), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
    // Block 1 (position 8, key 0) as libcrypto enciphers it under the file's key 0.
    Block plain;
    std::copy(img.begin() + 8, img.begin() + 16, plain.begin());
    const Block expected = test::storedBlock(test::testKeys()[0], plain);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), underFile->begin() + 40));
    ASSERT_EQ(decode(*builtIn), ivr::kIvrOk);
    EXPECT_NE(out, stamped(img));

    // Any other size: the built-in table again.
    for (std::size_t size : {0, 8, 255, 257, 512}) {
        auto bytes = test::keyFileBytes(test::testKeys());
        bytes.resize(size, 0x5A);
        keys.write(ivr::kIvrKeyFileName, bytes);
        table = ivr::IvrKeys::fromFolder(keys.path());
        ASSERT_EQ(decode(*builtIn), ivr::kIvrOk) << size;
        EXPECT_EQ(out, stamped(img)) << size;
    }
    // A folder named like the key file is no key file.
    std::filesystem::remove(keys / ivr::kIvrKeyFileName);
    std::filesystem::create_directory(keys / ivr::kIvrKeyFileName);
    table = ivr::IvrKeys::fromFolder(keys.path());
    ASSERT_EQ(decode(*builtIn), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
}

TEST_F(IvrFixture, OnlyARegularKeyFileOfTheRightSizeReplacesTheKeys) {
    EXPECT_FALSE(ivr::IvrKeys::fromFolder(keys.path()).fromKeyFile());  // none there
    EXPECT_FALSE(ivr::IvrKeys::fromFolder({}).fromKeyFile());
    // A FIFO in its place must not hold up the start of the program.
    ASSERT_EQ(::mkfifo((keys / ivr::kIvrKeyFileName).c_str(), 0600), 0);
    EXPECT_FALSE(ivr::IvrKeys::fromFolder(keys.path()).fromKeyFile());
    std::filesystem::remove(keys / ivr::kIvrKeyFileName);
    useTestKeys();
    EXPECT_TRUE(table.fromKeyFile());
    // A table is a value: a copy keeps its keys when the file changes later.
    const ivr::IvrKeys kept = table;
    keys.write(ivr::kIvrKeyFileName, std::vector<std::uint8_t>(ivr::kIvrKeyFileSize, 0x11));
    const std::uint8_t plain[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t a[8], b[8];
    kept.encipherBlock(3, plain, a);
    ivr::IvrKeys::fromFolder(keys.path()).encipherBlock(3, plain, b);
    EXPECT_FALSE(std::equal(a, a + 8, b));
}

TEST_F(IvrFixture, NegativeDataOffsetLeavesPositionsWithoutDataFF) {
    // D = -10: positions 0..9 lie before the file; position 10 is file byte 0.
    auto file = dat(32, 0, 0, std::vector<std::uint8_t>(kN, 0x21));
    put16(file, 6, static_cast<std::uint16_t>(-10));
    ASSERT_EQ(decode(file), ivr::kIvrOk);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], 0xFF) << i;
    // The first word reads 0xFFFF: L lies past the image, so no word anywhere.
    for (std::size_t i = 0; i < file.size() && 10 + i < kN; ++i)
        ASSERT_EQ(out[10 + i], file[i]) << i;

    // D = -32768 leaves all of a small image at 0xFF.
    put16(file, 6, 0x8000);
    ASSERT_EQ(decode(file, 100), ivr::kIvrOk);
    EXPECT_EQ(out, allFF(100));
}

TEST_F(IvrFixture, BlocksBeginningBeforePositionZeroAreNotDecoded) {
    useTestKeys();
    // S = -4: the block -4..3 keeps 0xFF, block 4..11 is deciphered with key 3.
    std::vector<std::uint8_t> data(64, 0x33);
    ASSERT_EQ(decode(dat(32, -4, 12, data)), ivr::kIvrOk);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], 0xFF) << i;
    Block c;
    std::copy(data.begin() + 4, data.begin() + 12, c.begin());
    std::swap(c[5], c[6]);
    c[0] ^= c[1];
    const Block plain = test::desDecrypt(test::testKeys()[3], c);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin() + 4));
    EXPECT_TRUE(std::all_of(out.begin() + 12, out.begin() + 64, [](auto b) { return b == 0x33; }));

    // A block whose first bytes lie before the file's data (D = -3) is not decoded.
    auto file = dat(32, 0, 8, data);
    put16(file, 6, static_cast<std::uint16_t>(-3));
    ASSERT_EQ(decode(file), ivr::kIvrOk);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 8, [](auto b) { return b == 0xFF; }));
    // Image position q is file byte q - 3.
    EXPECT_TRUE(std::equal(file.begin() + 5, file.end(), out.begin() + 8));
}

TEST_F(IvrFixture, ABlockCrossingTheImageEndKeepsFF) {
    const auto img = imageWithHeader(kN + 8, 16, 12);
    ASSERT_EQ(decode(dat(32, 4090, 4098, img)), ivr::kIvrOk);
    EXPECT_TRUE(std::all_of(out.begin() + 4090, out.end(), [](auto b) { return b == 0xFF; }));
    auto expected = std::vector<std::uint8_t>(img.begin(), img.begin() + kN);
    std::fill(expected.begin() + 4090, expected.end(), 0xFF);
    EXPECT_EQ(out, stamped(expected));
    // With L = 4,092 the word's place lies in that block: it keeps 0xFF too.
    const auto late = imageWithHeader(kN + 8, 4092, 16);
    ASSERT_EQ(decode(dat(32, 4090, 4098, late)), ivr::kIvrOk);
    EXPECT_TRUE(std::all_of(out.begin() + 4090, out.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4090, late.begin()));
}

TEST_F(IvrFixture, DataEndingInsideABlockLeavesThatBlockFF) {
    useTestKeys();
    // Block 0 holds the header (L = 16); the file stops 4 bytes into block 1,
    // so the check word's place (14, 15) has no data and gets no word.
    Block plain = {8, 0, 1, 2, 3, 4, 5, 6};
    const Block stored = test::storedBlock(test::testKeys()[3], plain);
    std::vector<std::uint8_t> data(12, 0);
    std::copy(stored.begin(), stored.end(), data.begin());
    data[8] = 0x10;
    data[11] = 0x40;
    ASSERT_EQ(decode(dat(32, 0, 16, data)), ivr::kIvrOk);
    auto expected = allFF();
    std::copy(plain.begin(), plain.end(), expected.begin());
    EXPECT_EQ(out, expected);
    // Seven of the block's eight bytes, the word's place among them: still no word.
    data.resize(15, 0x55);
    ASSERT_EQ(decode(dat(32, 0, 16, data)), ivr::kIvrOk);
    EXPECT_EQ(out, expected);
}

TEST_F(IvrFixture, HugeAndExtremeFieldsStayInsideTheBuffer) {
    const auto img = imageWithHeader(kN, 16, 13);
    ASSERT_EQ(decode(dat(32, 0x7FFFFFF0, 0x7FFFFFF8, img)), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
    ASSERT_EQ(decode(dat(32, INT32_MIN, INT32_MIN + 8, img)), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
    // The whole int32 range as one stretch: every image block is enciphered.
    EXPECT_EQ(decode(dat(32, INT32_MIN, INT32_MAX - 7, img)), ivr::kIvrOk);
    ASSERT_EQ(decode(dat(32767, 0, 0, img)), ivr::kIvrOk);
    EXPECT_EQ(out, stamped(img));
    // The data offset past the end of the file: no data at all.
    auto beyond = dat(32, 0, 0, img);
    put16(beyond, 6, 32767);
    ASSERT_EQ(decode(beyond), ivr::kIvrOk);
    EXPECT_EQ(out, allFF());
    for (std::size_t n : {0, 1, 2, 5, 7}) {
        out.assign(n + 4, 0xAA);
        const auto path = dir.write("tiny.dat", dat(32, 0, 8, img));
        EXPECT_EQ(ivr::IvrToImage(path.string(), out.data(), n, table), ivr::kIvrOk);
        EXPECT_TRUE(std::all_of(out.begin() + n, out.end(), [](auto b) { return b == 0xAA; }));
    }
}

TEST_F(IvrFixture, StreamsAreReadFromTheirStart) {
    const auto img = imageWithHeader(kN, 16, 14);
    auto file = ivr::ImageToIvr(img.data(), kN, {32, 64, 128}, table);
    ASSERT_TRUE(file.has_value());
    std::FILE* f = fmemopen(file->data(), file->size(), "rb");
    ASSERT_NE(f, nullptr);
    std::fgetc(f);
    out.assign(kN, 0);
    EXPECT_EQ(ivr::IvrStreamToImage(f, out.data(), kN, table), ivr::kIvrOk);
    std::fclose(f);
    EXPECT_EQ(out, stamped(img));
    EXPECT_EQ(ivr::IvrStreamToImage(nullptr, out.data(), kN, table), ivr::kIvrCannotOpen);
}

namespace {
// A stream that hands out a byte vector and notes the size of every read.
struct CountingSource {
    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
    std::vector<std::size_t> reads;

    static ssize_t read(void* self, char* out, std::size_t size) {
        auto* s = static_cast<CountingSource*>(self);
        s->reads.push_back(size);
        const std::size_t n = std::min(size, s->bytes.size() - s->pos);
        std::memcpy(out, s->bytes.data() + s->pos, n);
        s->pos += n;
        return static_cast<ssize_t>(n);
    }
    static int seek(void* self, off64_t* offset, int whence) {
        auto* s = static_cast<CountingSource*>(self);
        if (whence != SEEK_SET || *offset < 0) return -1;
        s->pos = std::min<std::size_t>(static_cast<std::size_t>(*offset), s->bytes.size());
        return 0;
    }
};
}  // namespace

TEST_F(IvrFixture, TheFileIsReadInPiecesOfAtMost1024Bytes) {
    const auto img = imageWithHeader(kN, 16, 15);
    auto file = ivr::ImageToIvr(img.data(), kN, {32, 512, 2560}, table);
    ASSERT_TRUE(file.has_value());
    file->resize(file->size() + 20000, 0x77);  // data well past the image
    CountingSource source;
    source.bytes = *file;
    cookie_io_functions_t io{&CountingSource::read, nullptr, &CountingSource::seek, nullptr};
    std::FILE* f = fopencookie(&source, "rb", io);
    ASSERT_NE(f, nullptr);
    std::setvbuf(f, nullptr, _IONBF, 0);
    out.assign(kN, 0);
    EXPECT_EQ(ivr::IvrStreamToImage(f, out.data(), kN, table), ivr::kIvrOk);
    std::fclose(f);
    EXPECT_EQ(out, stamped(img));
    ASSERT_FALSE(source.reads.empty());
    EXPECT_LE(*std::max_element(source.reads.begin(), source.reads.end()), 1024u);
    // Only what the image needs is read: the header piece and the image's pieces.
    std::size_t total = 0;
    for (std::size_t r : source.reads) total += r;
    EXPECT_LE(total, 1024u + kN + 1024u);
}
