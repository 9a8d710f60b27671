// table_fuzz: the randomized table run at any length, for runs too long for the test suite.
//
//   table_fuzz SEED CASES [--from N] [--dialog-every N]
//
// Runs CASES cases of SEED starting with case N (default 0), filling the dialog for every n-th
// case that publishes a table (default 25, 0 for never), prints progress, a summary and the
// failures, and exits with 0 when every answer was the expected one.
#include "tests/fuzz/table_fuzz.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

bool ParseCount(const char* text, std::uint64_t& out) {
    char* end = nullptr;
    out = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

int Usage() {
    std::fprintf(stderr, "usage: table_fuzz SEED CASES [--from N] [--dialog-every N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vorkast::test::fuzz;
    Options options;
    if (argc < 3 || !ParseCount(argv[1], options.seed) || !ParseCount(argv[2], options.cases)) { return Usage(); }
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--from") == 0 && i + 1 < argc) {
            if (!ParseCount(argv[++i], options.first_case)) { return Usage(); }
        } else if (std::strcmp(argv[i], "--dialog-every") == 0 && i + 1 < argc) {
            if (!ParseCount(argv[++i], options.dialog_every)) { return Usage(); }
        } else {
            return Usage();
        }
    }
    options.progress_every = options.cases >= 100000 ? 10000 : (options.cases >= 10000 ? 1000 : 0);
    std::printf("table_fuzz: seed %llu, cases %llu to %llu, dialog for every %llu-th table\n",
                static_cast<unsigned long long>(options.seed), static_cast<unsigned long long>(options.first_case),
                static_cast<unsigned long long>(options.first_case + options.cases - 1),
                static_cast<unsigned long long>(options.dialog_every));
    std::fflush(stdout);
    try {
        const auto start = std::chrono::steady_clock::now();
        const Result result = RunCases(options);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("cases:         %llu in %.1f s\n", static_cast<unsigned long long>(result.cases), seconds);
        std::printf("value queries: %llu\n", static_cast<unsigned long long>(result.value_queries));
        std::printf("dialog fills:  %llu, listing %llu entries in all\n", static_cast<unsigned long long>(result.dialogs),
                    static_cast<unsigned long long>(result.dialog_entries));
        std::printf("answers:\n");
        for (const auto& [kind, n] : result.answers) {
            std::printf("  %8llu  %s\n", static_cast<unsigned long long>(n), kind.c_str());
        }
        std::printf("failures:      %llu\n", static_cast<unsigned long long>(result.failures));
        for (const std::string& text : result.failure_texts) { std::printf("  %s\n", text.c_str()); }
        return result.failures == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("table_fuzz: %s\n", e.what());
        return 1;
    }
}
