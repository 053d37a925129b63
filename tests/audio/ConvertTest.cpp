#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "audio/Convert.h"
#include "audio/Quantiser.h"
#include "tests/support/AudioFiles.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {
namespace {

using audio::ConvertOptions;
using audio::convertToWave;

class ConvertTest : public ::testing::Test {
protected:
    std::filesystem::path source(const std::string& name, SourceAudio audio) {
        auto path = dir / name;
        writeSource(path, audio);
        return path;
    }
    // Converts and returns the WAV's bytes; fails the test when the import fails.
    std::vector<std::uint8_t> convert(const std::filesystem::path& from,
                                      const ConvertOptions& options = {}) {
        auto to = dir / (from.stem().string() + "-out.wav");
        auto r = convertToWave(from, to, options);
        EXPECT_TRUE(r.ok) << r.error;
        return r.ok ? readFile(to) : std::vector<std::uint8_t>{};
    }
    TempDir dir;
};

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(WaveHeader, IsTheCanonicalEightBitMonoHeaderWithThePadCounted) {
    auto h = audio::waveHeader(8000, 1501);
    std::vector<std::uint8_t> b(h.begin(), h.end());
    EXPECT_EQ(std::memcmp(b.data(), "RIFF", 4), 0);
    EXPECT_EQ(le32(b, 4), 36u + 1501u + 1u);
    EXPECT_EQ(std::memcmp(b.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(le32(b, 16), 16u);
    EXPECT_EQ(b[20] | b[21] << 8, 1);  // PCM
    EXPECT_EQ(b[22] | b[23] << 8, 1);  // mono
    EXPECT_EQ(le32(b, 24), 8000u);
    EXPECT_EQ(le32(b, 28), 8000u);
    EXPECT_EQ(b[32], 1);
    EXPECT_EQ(b[34], 8);
    EXPECT_EQ(std::memcmp(b.data() + 36, "data", 4), 0);
    EXPECT_EQ(le32(b, 40), 1501u);
    auto even = audio::waveHeader(16000, 1500);
    EXPECT_EQ(even[4] | even[5] << 8, 36 + 1500);
}

TEST(Quantiser, MapsFullScaleToTheEightBitRangeWithoutDither) {
    audio::Quantiser q(1, false);
    EXPECT_EQ(q.next(0.0f), 0x80);
    EXPECT_EQ(q.next(-1.0f), 0x00);
    EXPECT_EQ(q.next(1.0f), 0xFF);  // clipped, not wrapped
    EXPECT_EQ(q.next(4.0f), 0xFF);
    EXPECT_EQ(q.next(-4.0f), 0x00);
    EXPECT_EQ(q.next(std::nanf("")), 0x00);
    EXPECT_EQ(q.next(0.5f), 0xC0);
}

TEST(Quantiser, TriangularDitherSpreadsOneStepEitherWayAroundTheRightMean) {
    audio::Quantiser q;
    int counts[256] = {};
    double sum = 0;
    const int n = 200000;
    const float level = 0.25f / 128.0f;  // a quarter step above the centre
    for (int i = 0; i < n; ++i) {
        auto v = q.next(level);
        ++counts[v];
        sum += v;
    }
    EXPECT_EQ(counts[127] + counts[128] + counts[129], n);
    EXPECT_GT(counts[127], 0);
    EXPECT_GT(counts[129], 0);
    // The mean carries the sub-step level that plain rounding would lose.
    EXPECT_NEAR(sum / n, 128.25, 0.01);
}

TEST_F(ConvertTest, OneKilohertzSineAtEightKilohertzKeepsFortyDecibelsSinadAndItsLength) {
    auto src = source("tone.wav", {wav16(), 44100, 2, 2.0, sine(1000, -1)});
    auto wav = convert(src);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(le32(wav, 24), 8000u);
    auto x = eightBitSamples(wav);
    ASSERT_EQ(le32(wav, 40), x.size());
    // 2 s at 8 kHz: 16,000 samples, give or take one sample period.
    EXPECT_NEAR(static_cast<double>(x.size()), 16000.0, 1.0);
    auto fit = fitSine(x, 1000, 8000, 800, x.size() - 800);
    EXPECT_GE(fit.sinadDb(), 40.0) << "amplitude " << fit.amplitude;
    // Normalised: the peak sits at -1 dBFS.
    EXPECT_NEAR(20 * std::log10(fit.amplitude), -1.0, 0.1);
}

TEST_F(ConvertTest, FiveKilohertzSineAboveTheNewNyquistComesOutSixtyDecibelsDown) {
    auto src = source("high.wav", {wav16(), 44100, 2, 2.0, sine(5000, -1)});
    ConvertOptions o;
    o.normalize = false;  // or the remains would be raised to full scale
    auto x = eightBitSamples(convert(src, o));
    ASSERT_GT(x.size(), 2000u);
    const double input = std::pow(10.0, -1 / 20.0);
    // At 8 kHz a 5 kHz tone can only show as its 3 kHz alias.
    auto alias = fitSine(x, 3000, 8000, 800, x.size() - 800);
    EXPECT_LE(20 * std::log10(alias.amplitude / input), -60.0);
    // Nothing but dither either once the tone's abrupt start has passed (a
    // click has energy below any cut-off).
    auto [lo, hi] = std::minmax_element(x.begin() + 800, x.end() - 800);
    EXPECT_GE(*lo, -3.0 / 128);
    EXPECT_LE(*hi, 3.0 / 128);
}

struct FormatCase {
    const char* name;
    int (*format)();
    int channels;
    int rate;
    double minSinad;
};

class ConvertFormat : public ConvertTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ConvertFormat, EveryReadableFormatBecomesEightBitMonoAtTheChosenRate) {
    const FormatCase& c = GetParam();
    auto src = source(c.name, {c.format(), c.rate, c.channels, 1.0, sine(440, -6)});
    ConvertOptions o;
    o.rate = 11025;
    o.mixChannels = true;
    auto wav = convert(src, o);
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(le32(wav, 24), 11025u);
    EXPECT_EQ(wav[22], 1);
    EXPECT_EQ(wav[34], 8);
    auto x = eightBitSamples(wav);
    EXPECT_NEAR(static_cast<double>(x.size()), 11025.0, 1.0);
    auto fit = fitSine(x, 440, 11025, 1000, x.size() - 1000);
    EXPECT_GE(fit.sinadDb(), c.minSinad);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ConvertFormat,
    ::testing::Values(FormatCase{"s16.wav", &wav16, 2, 44100, 40},
                      FormatCase{"s24.wav", &wav24, 1, 48000, 40},
                      FormatCase{"f32.wav", &wavFloat, 2, 22050, 40},
                      FormatCase{"s16.flac", &flac16, 2, 44100, 40},
                      // Lossy: its own coding noise sits above the 8-bit floor.
                      FormatCase{"vorbis.ogg", &oggVorbis, 2, 44100, 30}),
    [](const auto& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), '.', '_');
        return n;
    });

TEST_F(ConvertTest, ChannelsAreMixedOnlyWhenAskedOtherwiseTheFirstIsTaken) {
    // Left a tone, right its negation: the mean is silence.
    auto tone = sine(500, -6);
    auto src = source("lr.wav", {wav16(), 8000, 2, 1.0, [tone](int ch, double t) {
                                     return ch == 0 ? tone(0, t) : -tone(0, t);
                                 }});
    ConvertOptions o;
    o.normalize = false;
    auto first = eightBitSamples(convert(src, o));
    EXPECT_NEAR(fitSine(first, 500, 8000, 100, first.size() - 100).amplitude, 0.5, 0.02);
    o.mixChannels = true;
    auto mixed = eightBitSamples(convert(src, o));
    EXPECT_LT(fitSine(mixed, 500, 8000, 100, mixed.size() - 100).amplitude, 0.005);
}

TEST_F(ConvertTest, WithoutNormalisingAQuietSourceStaysQuiet) {
    auto src = source("quiet.flac", {flac16(), 16000, 1, 1.0, sine(400, -20)});
    ConvertOptions o;
    o.rate = 16000;
    o.normalize = false;
    auto x = eightBitSamples(convert(src, o));
    EXPECT_NEAR(20 * std::log10(fitSine(x, 400, 16000, 500, x.size() - 500).amplitude), -20, 0.3);
    o.normalize = true;
    auto y = eightBitSamples(convert(src, o));
    EXPECT_NEAR(20 * std::log10(fitSine(y, 400, 16000, 500, y.size() - 500).amplitude), -1, 0.2);
}

TEST_F(ConvertTest, TrimCutsLeadingAndTrailingSilenceOnly) {
    // Half a second of silence, one second of tone, half a second of silence.
    auto tone = sine(300, -6);
    auto src = source("gap.wav", {wav16(), 8000, 1, 2.0, [tone](int, double t) {
                                      return (t >= 0.5 && t < 1.5) ? tone(0, t) : 0.0;
                                  }});
    ConvertOptions o;
    auto whole = eightBitSamples(convert(src, o));
    EXPECT_NEAR(static_cast<double>(whole.size()), 16000, 1);
    o.trimDb = -40.0;
    auto trimmed = eightBitSamples(convert(src, o));
    // The tone's second, and no more than the few samples its edges ring for.
    EXPECT_GE(trimmed.size(), 7990u);
    EXPECT_LE(trimmed.size(), 8100u);
    EXPECT_GT(std::fabs(trimmed.front()), 0.0);

    auto silent = source("silent.wav", {wav16(), 8000, 1, 1.0, [](int, double) { return 0.0; }});
    auto none = convert(silent, o);
    ASSERT_EQ(none.size(), 44u);  // nothing reaches the threshold: an empty section
    EXPECT_EQ(le32(none, 40), 0u);
}

TEST_F(ConvertTest, TheSameSourceConvertsToTheSameBytes) {
    auto src = source("again.wav", {wav16(), 44100, 2, 0.5, sine(700, -3)});
    EXPECT_EQ(convert(src), convert(src));
}

TEST_F(ConvertTest, AnUnreadableSourceFailsWithLibsndfilesReasonAndWritesNothing) {
    auto text = dir.write("notes.mp3", std::string("these are not sounds, only words\n"));
    auto target = dir.write("keep.wav", std::string("an earlier file"));
    auto r = convertToWave(text, target, {});
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(readText(target), "an earlier file");

    auto missing = convertToWave(dir / "absent.flac", dir / "absent.wav", {});
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("No such file"), std::string::npos) << missing.error;
    EXPECT_FALSE(std::filesystem::exists(dir / "absent.wav"));
}

TEST_F(ConvertTest, AnUnwritableTargetIsReportedAndLeavesNoPartialFile) {
    auto src = source("ok.wav", {wav16(), 8000, 1, 0.2, sine(300, -6)});
    auto target = dir / "no-such-folder" / "ok.wav";
    auto r = convertToWave(src, target, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Failed to create file: " + target.string());
    ConvertOptions zero;
    zero.rate = 0;
    EXPECT_FALSE(convertToWave(src, dir / "z.wav", zero).ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "z.wav"));
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(e.path().extension(), ".part");
}

std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

// A result larger than the largest chip is refused before anything is
// written, whatever the ratio of the rates, with how many seconds fit.
TEST_F(ConvertTest, ResultsLargerThanTheLargestChipAreRefusedBeforeAnythingIsWritten) {
    auto tone = sine(300, -6);
    auto gap = source("gap.wav", {wav16(), 8000, 1, 2.0, [tone](int, double t) {
                                      return (t >= 0.5 && t < 1.5) ? tone(0, t) : 0.0;
                                  }});
    // 16 KB of samples that declare 1 Hz: four and a half hours at 22,050 Hz.
    auto slow =
        source("slow.wav", {wav8(), 1, 1, 16384.0, [](int, double t) { return std::sin(t); }});
    constexpr std::uint64_t kTarnSound = 127008768 - 17408;
    const struct {
        std::filesystem::path from;
        std::uint32_t rate;
        std::optional<double> trimDb;
        std::uint64_t maxBytes;
        std::string error;  // empty: converted
    } cases[] = {
        {gap,
         8000,
         {},
         8000,
         "The sound lasts 2.0 s at 8000 Hz: 1 s fit the largest chip this installation "
         "programs (8000 bytes of sound)."},
        {gap, 8000, -40.0, 4000,
         "The sound lasts 1.0 s at 8000 Hz: 0 s fit the largest chip this installation "
         "programs (4000 bytes of sound)."},
        {gap, 8000, -40.0, 9000, ""},
        {gap, 8000, {}, 16000, ""},
        {slow,
         22050,
         {},
         kTarnSound,
         "The sound lasts 16384.0 s at 22050 Hz: 5759 s fit the largest chip this installation "
         "programs (126991360 bytes of sound)."},
    };
    for (const auto& c : cases) {
        const auto before = namesIn(dir.path());
        ConvertOptions o;
        o.rate = c.rate;
        o.trimDb = c.trimDb;
        o.maxBytes = c.maxBytes;
        o.scratchDir = dir.path();
        auto target = dir / "out.wav";
        auto r = convertToWave(c.from, target, o);
        EXPECT_EQ(r.error, c.error) << c.from << " " << c.maxBytes;
        EXPECT_EQ(r.ok, c.error.empty());
        if (r.ok) {
            EXPECT_LE(r.samples, c.maxBytes);
            std::filesystem::remove(target);
        }
        // Neither the result nor a temporary file is left behind.
        EXPECT_EQ(namesIn(dir.path()), before);
    }
}

// The decoder's own notes on standard error become the import's warnings:
// nothing of them reaches the program's standard error.
TEST_F(ConvertTest, DecoderNotesAreCaughtAsWarnings) {
    auto mp3File = source("song.mp3", {mp3(), 44100, 1, 3.0, sine(440, -6)});
    {
        std::fstream f(mp3File, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(20000);
        const std::string junk(3000, '\x55');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    auto errFile = dir / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int redirected = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(redirected, STDERR_FILENO);
    ::close(redirected);
    auto r = convertToWave(mp3File, dir / "song.wav", {});
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(readText(errFile), "");
    ASSERT_FALSE(r.warnings.empty());
    for (const auto& w : r.warnings) EXPECT_EQ(w.find('\n'), std::string::npos);
    // Standard error works again afterwards.
    EXPECT_GE(::write(STDERR_FILENO, "", 0), 0);
}

// The WAV is written under a name created for it alone: a link planted at
// the name an earlier version used is never followed.
TEST_F(ConvertTest, APlantedLinkBesideTheTargetIsNeverWrittenThrough) {
    auto src = source("ok.wav", {wav16(), 8000, 1, 0.2, sine(300, -6)});
    auto victim = dir.write("victim.txt", std::string("keep me"));
    std::filesystem::create_symlink(victim, dir / "ok-out.wav.part");
    EXPECT_FALSE(convert(src).empty());
    EXPECT_EQ(readText(victim), "keep me");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "ok-out.wav.part"));
}

}  // namespace
}  // namespace sonoprog::test
