// vorkast-dump: prints the live "VorkastSensors" table (print_table.cpp), or captures it to a
// sensor file that vorkast-publish serves again exactly (capture.cpp), or records it with its
// changes over time (record.cpp). This file reads the arguments and picks the job.
#include "tools/common/console.h"
#include "tools/dump/jobs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

constexpr char kUsage[] =
    "usage: vorkast-dump\n"
    "       vorkast-dump --capture FILE\n"
    "       vorkast-dump --record FILE [--interval MS] [--duration MS] [--ignore-stdin]\n"
    "  Prints the live sensor table \"VorkastSensors\": its header and every record\n"
    "  (number, name, value type, value as text).\n"
    "  --capture writes the table to FILE exactly, for vorkast-publish to serve again.\n"
    "  --record does the same and then samples the table every MS milliseconds (default\n"
    "  500, 10 to 3600000) and adds every change with its time, until Ctrl+C, the end of\n"
    "  standard input (unless --ignore-stdin), --duration MS, or the table's withdrawal.\n"
    "  Exit status 0 when a table was shown or written, 1 when there is none or it cannot\n"
    "  be read or FILE cannot be written, 2 for wrong arguments.\n";

[[noreturn]] void UsageFailure(const std::string& what) {
    std::fprintf(stderr, "vorkast-dump: %s\n", what.c_str());
    std::fputs(kUsage, stderr);
    std::exit(2);
}

// The options of --capture and --record; `record` says which was given.
vorkast::tools::RecordOptions ParseCaptureArguments(int argc, char** argv, bool* record) {
    vorkast::tools::RecordOptions o;
    bool interval_given = false, duration_given = false, ignore_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) { UsageFailure(a + " needs a value"); }
            return argv[++i];
        };
        auto number = [&](unsigned long long min, unsigned long long max) {
            const std::string text = value();
            unsigned long long v = 0;
            if (!vorkast::tools::ParseUnsigned(text.c_str(), max, &v) || v < min) {
                UsageFailure(a + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                             ", not '" + text + "'");
            }
            return v;
        };
        if (a == "--capture" || a == "--record") {
            if (!o.file.empty()) { UsageFailure("give one of --capture and --record, once"); }
            *record = a == "--record";
            o.file = value();
            if (o.file.empty()) { UsageFailure(a + " needs a file name"); }
        } else if (a == "--interval") {
            o.interval_ms = number(10, 3600000);
            interval_given = true;
        } else if (a == "--duration") {
            o.duration_ms = number(1, 366ull * 24 * 3600 * 1000);
            duration_given = true;
        } else if (a == "--ignore-stdin") {
            o.ignore_stdin = true;
            ignore_given = true;
        } else {
            UsageFailure("unexpected argument '" + a + "'");
        }
    }
    if (!*record && (interval_given || duration_given || ignore_given)) {
        UsageFailure("--interval, --duration and --ignore-stdin belong to --record");
    }
    return o;
}

int Run(int argc, char** argv) {
    if (argc == 1) { return vorkast::tools::PrintTable(); }
    bool record = false;
    const vorkast::tools::RecordOptions o = ParseCaptureArguments(argc, argv, &record);
    return record ? vorkast::tools::RecordTable(o) : vorkast::tools::CaptureTable(o.file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "/?") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        const int status = Run(argc, argv);
        std::fflush(stdout);
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorkast-dump: %s\n", e.what());
        return 1;
    }
}
