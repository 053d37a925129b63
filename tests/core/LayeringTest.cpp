#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// The folders of the program and the layer each stands on. A file may include
// from its own folder and from folders of lower layers only; two folders of
// one layer stay apart. A new folder gets its row here (a new subsystem sits
// on the chips' layer or just above it).
namespace {

// clang-format off
const std::map<std::string, int> kLayers = {
    {"core", 0},                                                  // plain C++, no Qt
    {"link", 1}, {"ivr", 1}, {"records", 1}, {"audio", 1},        // Writer, DAT, records, audio
    {"sim", 2},  {"gui", 2},                                      // virtual Writer, widgets
    {"tarn", 3}, {"serialflash", 3}, {"kiva", 3}, {"editor", 3},  // chips, Sound Editor
    {"production", 4},                                            // the bench over the chips
    {"app", 9},  {"cli", 9},                                      // the two front ends
};
// clang-format on

// A chip's protocol header (`tarn/TarnProtocol.h`) is data: codes, geometry and
// status texts over the standard library and core/ alone. The virtual Writer answers
// those codes and the Sound Editor lays its images out in that geometry, so
// these two folders may include it from below or beside the chips; no chip
// includes another's.
const std::set<std::string> kProtocolReaders = {"sim", "editor"};

bool protocolHeader(const std::string& include) {
    static const std::regex rx(R"((tarn|serialflash|kiva)/\w+Protocol\.h)");
    return std::regex_match(include, rx);
}

// Folders that are not part of the layered program.
bool exempt(const std::filesystem::path& folder) {
    const std::string name = folder.filename().string();
    return name.empty() || name[0] == '.' || name == "tests" || name == "bench" ||
           std::filesystem::exists(folder / "CMakeCache.txt");  // a build folder
}

bool sourceFile(const std::filesystem::path& p) {
    const std::string ext = p.extension().string();
    return ext == ".h" || ext == ".cpp" || ext == ".hpp" || ext == ".cc";
}

std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Finding {
    std::string file;  // relative to the source folder
    std::string what;
};

// Every include and namespace of the tree that breaks the rules, one finding each.
std::vector<Finding> layeringFindings(const std::filesystem::path& root) {
    static const std::regex includeRx(R"re(#\s*include\s*"(([^"/]+)/[^"]*)")re");
    static const std::regex namespaceRx(R"(namespace\s+sonoprog::(\w+)\s*\{)");
    std::vector<Finding> out;
    for (const auto& top : std::filesystem::directory_iterator(root)) {
        if (!top.is_directory() || exempt(top.path())) continue;
        const std::string folder = top.path().filename().string();
        bool hasSources = false;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(top.path())) {
            if (!entry.is_regular_file() || !sourceFile(entry.path())) continue;
            hasSources = true;
            const std::string rel = std::filesystem::relative(entry.path(), root).string();
            const std::string text = readAll(entry.path());
            const auto own = kLayers.find(folder);
            for (std::sregex_iterator m(text.begin(), text.end(), includeRx), end; m != end; ++m) {
                const std::string target = (*m)[2];
                if (protocolHeader(rel) && target != "core")
                    out.push_back({rel, m->str() + " (a protocol header includes only core/)"});
                if (target == folder || own == kLayers.end()) continue;
                if (protocolHeader((*m)[1]) && kProtocolReaders.count(folder)) continue;
                const auto other = kLayers.find(target);
                if (other == kLayers.end()) continue;  // not a folder of the program
                if (other->second >= own->second)
                    out.push_back(
                        {rel, m->str() + " (" + folder + " may not include from " + target + ")"});
            }
            // Declarations of other folders' classes (forward declarations) are
            // fine; a file defines its own things in its folder's namespace.
            if (own != kLayers.end()) {
                bool opensOwn = false, opensAny = false;
                for (std::sregex_iterator m(text.begin(), text.end(), namespaceRx), end; m != end;
                     ++m) {
                    opensAny = true;
                    if ((*m)[1] == folder) opensOwn = true;
                }
                if (opensAny && !opensOwn)
                    out.push_back({rel, "declares nothing in namespace sonoprog::" + folder});
            }
        }
        if (hasSources && kLayers.find(folder) == kLayers.end())
            out.push_back({folder + "/", "has no layer: give it a row in this test's table"});
    }
    return out;
}

TEST(Layering, IncludesRunDownwardAndEachFolderKeepsItsNamespace) {
    const std::filesystem::path root = SONOPROG_SOURCE_DIR;
    ASSERT_TRUE(std::filesystem::exists(root / "core")) << root;
    std::ostringstream report;
    for (const Finding& f : layeringFindings(root)) report << f.file << ": " << f.what << "\n";
    EXPECT_EQ(report.str(), "");
}

TEST(Layering, AnUpwardIncludeIsNamedWithItsFile) {
    // The check itself, on a small tree: a link file reaching up into a chip
    // folder, two chips reaching into each other, and a folder without a row.
    const auto root = std::filesystem::temp_directory_path() /
                      ("sonoprog-layering-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    auto put = [&](const std::string& rel, const std::string& text) {
        std::filesystem::create_directories((root / rel).parent_path());
        std::ofstream(root / rel) << text;
    };
    put("core/Base.h", "namespace sonoprog::core {}\n");
    put("link/Up.cpp",
        "#include \"core/Base.h\"\n#include \"tarn/TarnCommands.h\"\n"
        "namespace sonoprog::link {}\n");
    put("kiva/Side.cpp", "#include \"tarn/TarnProtocol.h\"\nnamespace sonoprog::kiva {}\n");
    put("app/Window.h",
        "namespace sonoprog::gui { class LogPane; }\nnamespace sonoprog::core {}\n");
    put("gang/Loop.cpp", "namespace sonoprog::gang {}\n");
    put("sim/Model.cpp", "#include \"tarn/TarnProtocol.h\"\nnamespace sonoprog::sim {}\n");
    put("sim/Other.cpp", "#include \"tarn/TarnCommands.h\"\nnamespace sonoprog::sim {}\n");
    put("tarn/TarnProtocol.h",
        "#include \"core/Base.h\"\n#include \"link/Up.h\"\nnamespace sonoprog::tarn {}\n");
    put("tests/core/AnyTest.cpp", "#include \"app/Window.h\"\n");
    const auto found = layeringFindings(root);
    std::filesystem::remove_all(root);

    std::vector<std::string> lines;
    for (const Finding& f : found) lines.push_back(f.file + ": " + f.what);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            "app/Window.h: declares nothing in namespace sonoprog::app",
            "gang/: has no layer: give it a row in this test's table",
            "kiva/Side.cpp: #include \"tarn/TarnProtocol.h\" (kiva may not include from tarn)",
            "link/Up.cpp: #include \"tarn/TarnCommands.h\" (link may not include from tarn)",
            "sim/Other.cpp: #include \"tarn/TarnCommands.h\" (sim may not include from tarn)",
            "tarn/TarnProtocol.h: #include \"link/Up.h\" (a protocol header includes only core/)",
        }));
}

}  // namespace
