// sonoprog_bench: the Google Benchmark figures, plus two helper modes that
// bench/run uses:
//   --rss=NAME                  runs scenario NAME once and prints "NAME <VmHWM KiB>"
//   --startup-child=MODE DIR    one start-up of the start-up figure
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/StartupBench.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strncmp(argv[1], "--startup-child=", 16) == 0)
        return runStartupChild(argv[1] + 16, argc >= 3 ? argv[2] : ".", 1, argv);

    // The window figures need an application; offscreen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    if (argc >= 2 && std::strncmp(argv[1], "--rss=", 6) == 0) {
        const std::string name = argv[1] + 6;
        if (name != "idle" && !sonoprog::bench::runScenario(name)) {
            std::fprintf(stderr, "no scenario %s; there are:\n", name.c_str());
            for (const auto& n : sonoprog::bench::scenarioNames())
                std::fprintf(stderr, "  %s\n", n.c_str());
            return 2;
        }
        std::printf("%s %ld\n", name.c_str(), sonoprog::bench::peakRssKiB());
        return 0;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
