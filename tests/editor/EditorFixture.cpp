#include "tests/editor/EditorFixture.h"

#include <algorithm>
#include <filesystem>

namespace sonoprog::test {

namespace {
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void tag(std::vector<std::uint8_t>& b, std::size_t at, const char* t) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(t[i]);
}
}  // namespace

std::vector<std::uint8_t> waveBytes(const std::vector<std::uint8_t>& samples,
                                    const WaveShape& shape) {
    std::vector<std::uint8_t> b(44, 0);
    tag(b, 0, "RIFF");
    put32(b, 4,
          shape.riffLength ? shape.riffLength : static_cast<std::uint32_t>(36 + samples.size()));
    tag(b, 8, "WAVE");
    tag(b, 12, "fmt ");
    put32(b, 16, shape.fmtLength);
    put16(b, 20, shape.format);
    put16(b, 22, shape.channels);
    put32(b, 24, shape.rate);
    put32(b, 28, shape.rate * shape.channels * shape.bits / 8);
    put16(b, 32, static_cast<std::uint16_t>(shape.channels * shape.bits / 8));
    put16(b, 34, shape.bits);
    tag(b, 36, "data");
    put32(b, 40,
          shape.declaredSize == 0xFFFFFFFF ? static_cast<std::uint32_t>(samples.size())
                                           : shape.declaredSize);
    b.resize(44 + samples.size());
    std::copy(samples.begin(), samples.end(), b.begin() + 44);
    return b;
}

std::vector<std::uint8_t> rampSamples(std::size_t count, std::uint8_t seed) {
    std::vector<std::uint8_t> s(count);
    for (std::size_t i = 0; i < count; ++i)
        s[i] = static_cast<std::uint8_t>((i * 7 + i / 1024 * 13 + seed) & 0x7F);
    return s;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = saved_;
    lower.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lower);
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
}

EditorFixture::EditorFixture()
    : paths(core::AppPaths::forFolder(dir.path())),
      ops(table, panel, prompter, files, yield, clock, paths) {
    paths.ensureTemp();
}

std::string EditorFixture::wave(const std::string& name, std::size_t samples, std::uint32_t rate,
                                std::uint8_t seed) {
    WaveShape shape;
    shape.rate = rate;
    return dir.write(name, waveBytes(rampSamples(samples, seed), shape)).string();
}

editor::AddResult EditorFixture::addAt(int section, std::vector<std::string> chosen) {
    ops.selectRow(section + 1);
    files.multiAnswers.push_back(std::move(chosen));
    return ops.addReplace();
}

editor::BuildResult EditorFixture::build(const std::string& outName) {
    files.saveAnswers.push_back((dir / outName).string());
    return ops.makeDatFile();
}

std::vector<std::string> EditorFixture::leftovers() const {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().front() == '.') out.push_back(e.path().string());
    return out;
}

}  // namespace sonoprog::test
