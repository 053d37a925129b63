// The USB tests need the umockdev preload library in the process from the
// first instruction on (it redirects sysfs, /dev and udev to the testbed).
// When started without it, the binary runs itself again under it, so ctest,
// test discovery and a developer's plain ./usb_tests all behave alike.

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

bool preloaded() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

bool restartUnderPreload() {
    if (preloaded()) return false;
    const char* preload = std::getenv("LD_PRELOAD");

    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (std::size_t at = 0; at < all.size();) {
        std::size_t end = all.find('\0', at);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::string value = kPreload;
    if (preload && *preload) value += std::string(":") + preload;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    // The sanitizer runtime cannot come first when a preload library does.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    asan += (asan.empty() ? "" : ":");
    asan += "verify_asan_link_order=0";
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ::execv("/proc/self/exe", argv.data());
    return true;  // exec failed: run on, the tests then report the missing environment
}

const bool restarted = restartUnderPreload();

}  // namespace

namespace sonoprog::test {
// Referenced by the bus so that this file, and its restart, is always linked in.
bool mockEnvironmentChecked() {
    return !restarted && preloaded();
}
}  // namespace sonoprog::test
