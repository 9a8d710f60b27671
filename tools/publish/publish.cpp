// vorkast-publish: a stand-in for the sensor program. Creates the "VorkastSensors" table, fills
// it from a sensor file (or the built-in set) and keeps the values changing under the busy-word
// protocol until Ctrl+C or the end of standard input; the table disappears when it stops.
// A table that vorkast-dump captured is served exactly as it was captured (header, section
// size, names, values, busy words), and a recording is replayed with its original timing.
#include "sensors/table_writer.h"
#include "tools/common/console.h"
#include "tools/publish/default_sensors.h"
#include "tools/publish/replay.h"
#include "tools/publish/served_records.h"
#include "tools/sensor_file/generators.h"
#include "tools/sensor_file/sensor_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

using vorkast::tools::ParseUnsigned;
using vorkast::tools::SensorDefinition;
using vorkast::tools::SensorFile;
using vorkast::tools::StopSignal;
using vorkast::tools::WriteBusyWord;
using vorkast::tools::WriteName;

constexpr char kUsage[] =
    "usage: vorkast-publish [SENSORS.txt] [options]\n"
    "  Publishes the sensors of SENSORS.txt (or the built-in set) as the table \"VorkastSensors\"\n"
    "  and keeps their values changing until Ctrl+C or the end of standard input.\n"
    "  A file has one sensor a line:  name | type | value or generator  (see docs/tools.md)\n"
    "options:\n"
    "  --interval MS        time between updates (default 1000; 10 to 3600000)\n"
    "  --version N          the header's version (default 1, the only one readers accept)\n"
    "  --count N            the header's count (default: the number of sensors; 0 to 65535)\n"
    "  --section-bytes N    the section's size (default: room for the sensors, no more;\n"
    "                       at most 536870912, 512 MiB)\n"
    "  --stop-after MS      stop by itself after MS milliseconds\n"
    "  --loop               replay a recording again and again (default: once, then keep its end)\n"
    "  --keep-busy          serve records that were captured busy as busy (default: idle)\n"
    "  --ignore-stdin       keep publishing when standard input ends\n"
    "  --check              read and check the file, publish nothing\n"
    "  --print-default      print the built-in sensor set and exit\n";

struct Options {
    std::string file;  // empty: the built-in set
    unsigned long long interval_ms = 1000;
    bool version_given = false;
    unsigned long long version = vorkast::kSensorTableVersion;
    bool count_given = false;
    unsigned long long count = 0;
    unsigned long long section_bytes = 0;
    unsigned long long stop_after_ms = 0;
    bool ignore_stdin = false;
    bool loop = false;
    bool keep_busy = false;
    bool check = false;
    bool print_default = false;
};

class UsageError : public std::exception {
public:
    explicit UsageError(std::string what) : what_(std::move(what)) {}
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string what_;
};

Options ParseArguments(int argc, char** argv) {
    Options o;
    bool file_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](unsigned long long min, unsigned long long max) {
            if (i + 1 >= argc) { throw UsageError(a + " needs a value"); }
            unsigned long long v = 0;
            if (!ParseUnsigned(argv[i + 1], max, &v) || v < min) {
                throw UsageError(a + " takes a whole number from " + std::to_string(min) + " to " +
                                 std::to_string(max) + ", not '" + argv[i + 1] + "'");
            }
            ++i;
            return v;
        };
        if (a == "--interval") {
            o.interval_ms = number(10, 3600000);
        } else if (a == "--version") {
            o.version = number(0, 0xFFFFFFFFull);
            o.version_given = true;
        } else if (a == "--count") {
            o.count = number(0, 65535);
            o.count_given = true;
        } else if (a == "--section-bytes") {
            o.section_bytes = number(1, vorkast::tools::kMaxSectionBytes);
        } else if (a == "--stop-after") {
            o.stop_after_ms = number(1, 24ull * 3600 * 1000);
        } else if (a == "--ignore-stdin") {
            o.ignore_stdin = true;
        } else if (a == "--loop") {
            o.loop = true;
        } else if (a == "--keep-busy") {
            o.keep_busy = true;
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "--print-default") {
            o.print_default = true;
        } else if (a == "--help" || a == "-h" || a == "/?") {
            throw UsageError("");
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else if (file_given) {
            throw UsageError("more than one sensor file given ('" + o.file + "' and '" + a + "')");
        } else {
            o.file = a;
            file_given = true;
        }
    }
    return o;
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) { return false; }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) { return false; }
    *contents = buffer.str();
    return true;
}

int Publish(const Options& o, const SensorFile& file) {
    const std::vector<SensorDefinition>& sensors = file.sensors;
    const std::size_t section_bytes =
        static_cast<std::size_t>(o.section_bytes != 0 ? o.section_bytes : file.table.section_bytes);
    vorkast::SensorTableWriter writer(sensors.size(), section_bytes);
    const std::size_t fitting = std::min(sensors.size(), writer.capacity());
    const bool has_header = writer.size() >= vorkast::kSensorTableHeaderSize;

    // Names and first values before the count: a reader never meets a counted record unfilled.
    std::mt19937 random(static_cast<unsigned>(::GetTickCount()));
    std::size_t served_idle = 0;
    for (std::size_t i = 0; i < fitting; ++i) {
        WriteName(writer, i, sensors[i].name);
        writer.set_stored_value(i, vorkast::tools::SensorValueAt(sensors[i], 0.0, random));
        if (WriteBusyWord(writer, i, sensors[i].busy, o.keep_busy)) { ++served_idle; }
    }
    const unsigned long long version = o.version_given ? o.version : file.table.version;
    const unsigned long long count =
        o.count_given ? o.count
                      : (file.table.count_given ? file.table.count
                                                : std::min(sensors.size(), vorkast::tools::kMostCountedRecords));
    vorkast::SensorTableHeader first{};
    if (has_header) {
        writer.header().reserved = file.table.reserved;
        writer.set_version(static_cast<std::uint32_t>(version));
        writer.set_count(static_cast<std::uint16_t>(count));
        first = writer.header();
    }

    StopSignal stop;
    std::printf("vorkast-publish: publishing %zu sensor%s as VorkastSensors (version %llu, count %llu, "
                "%zu bytes), updating every %llu ms\n",
                fitting, fitting == 1 ? "" : "s", version, count, writer.size(), o.interval_ms);
    if (fitting < sensors.size()) {
        std::printf("vorkast-publish: only %zu of %zu sensors fit in %zu bytes; the rest are left out\n",
                    fitting, sensors.size(), writer.size());
    }
    if (!has_header) {
        std::printf("vorkast-publish: the section is too small for the 8-byte header; it holds zeros\n");
    }
    if (served_idle != 0) {
        std::printf("vorkast-publish: %zu record%s captured busy %s served idle (--keep-busy serves them busy)\n",
                    served_idle, served_idle == 1 ? "" : "s", served_idle == 1 ? "is" : "are");
    }
    const ULONGLONG start = ::GetTickCount64();
    vorkast::tools::Replay replay(file, o.loop, o.keep_busy, first, fitting);
    const vorkast::tools::ReplayTimeline& timeline = replay.timeline();
    if (timeline.active()) {
        std::printf("vorkast-publish: replaying a recording of %zu change%s over %llu ms, %s\n", file.changes.size(),
                    file.changes.size() == 1 ? "" : "s", timeline.length_ms(), o.loop ? "again and again" : "once");
        if (o.loop && timeline.pass_ms() != timeline.length_ms()) {
            std::printf("vorkast-publish: its last state is held for %llu ms before each new pass\n",
                        timeline.pass_ms() - timeline.length_ms());
        }
    }
    std::printf("vorkast-publish: stop with Ctrl+C%s\n",
                o.ignore_stdin || !vorkast::tools::HasStandardInput() ? "" : " or by ending standard input");
    std::fflush(stdout);

    if (!o.ignore_stdin) { vorkast::tools::StopAtEndOfInput(&stop); }

    std::vector<std::size_t> changing;
    for (std::size_t i = 0; i < fitting; ++i) {
        if (sensors[i].generator != vorkast::tools::Generator::fixed) { changing.push_back(i); }
    }

    ULONGLONG next = start + o.interval_ms;
    for (;;) {
        if (replay.Apply(::GetTickCount64() - start, writer)) {
            std::printf("vorkast-publish: the recording has been replayed; its last state stays published\n");
            std::fflush(stdout);
        }
        ULONGLONG now = ::GetTickCount64();
        const unsigned long long due = timeline.next_due_ms();
        ULONGLONG wake = due == ~0ull ? next : std::min<ULONGLONG>(next, start + due);
        if (o.stop_after_ms != 0) { wake = std::min<ULONGLONG>(wake, start + o.stop_after_ms); }
        const DWORD wait = wake > now ? static_cast<DWORD>(wake - now) : 0;
        if (::WaitForSingleObject(stop.event(), wait) == WAIT_OBJECT_0) { break; }
        now = ::GetTickCount64();
        if (o.stop_after_ms != 0 && now >= start + o.stop_after_ms) {
            stop.Trigger("--stop-after");
            break;
        }
        if (now >= next) {
            const double seconds = static_cast<double>(now - start) / 1000.0;
            for (std::size_t i : changing) {
                writer.set_stored_value(i, vorkast::tools::SensorValueAt(sensors[i], seconds, random));
            }
            // The next update on the interval's grid; updates missed while busy are skipped.
            next += o.interval_ms * ((now - next) / o.interval_ms + 1);
        }
    }
    std::printf("vorkast-publish: stopped (%s); VorkastSensors withdrawn\n", stop.reason());
    std::fflush(stdout);
    return 0;
}

int Run(int argc, char** argv) {
    const Options o = ParseArguments(argc, argv);
    if (o.print_default) {
        std::fputs(vorkast::tools::kDefaultSensorFile, stdout);
        return 0;
    }

    std::string text = vorkast::tools::kDefaultSensorFile;
    const std::string source = o.file.empty() ? std::string("built-in set") : o.file;
    if (!o.file.empty() && !ReadWholeFile(o.file, &text)) {
        std::fprintf(stderr, "vorkast-publish: cannot read %s: %s\n", o.file.c_str(), std::strerror(errno));
        return 1;
    }
    const SensorFile file = vorkast::tools::ParseSensorFile(text);
    for (const auto& w : file.warnings) {
        std::fprintf(stderr, "%s: warning: %s\n", source.c_str(), vorkast::tools::FormatMessage(w).c_str());
    }
    for (const auto& e : file.errors) {
        std::fprintf(stderr, "%s: %s\n", source.c_str(), vorkast::tools::FormatMessage(e).c_str());
    }
    if (!file.ok()) {
        std::fprintf(stderr, "vorkast-publish: %zu error%s in %s; nothing published\n", file.errors.size(),
                     file.errors.size() == 1 ? "" : "s", source.c_str());
        return 1;
    }
    if (o.loop && (!file.is_recording() || vorkast::tools::ReplayTimeline(file, true).pass_ms() == 0)) {
        std::fprintf(stderr, "vorkast-publish: --loop needs a recording that lasts (%s has %s)\n", source.c_str(),
                     file.is_recording() ? "no length" : "no recording");
        return 2;
    }
    if (o.check) {
        std::printf("%s: %zu sensor%s, no errors\n", source.c_str(), file.sensors.size(),
                    file.sensors.size() == 1 ? "" : "s");
        return 0;
    }
    return Publish(o, file);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        if (*e.what() != '\0') {
            std::fprintf(stderr, "vorkast-publish: %s\n", e.what());
            std::fputs(kUsage, stderr);
            return 2;
        }
        std::fputs(kUsage, stdout);
        return 0;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "vorkast-publish: cannot publish: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vorkast-publish: %s\n", e.what());
        return 1;
    }
}
