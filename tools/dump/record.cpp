// vorkast-dump --record: the live table captured, then sampled every interval, opened anew
// each time as the plug-in does, with every difference between two samples added at its time.
// A change that comes and goes between two samples is not seen.
#include "tools/common/console.h"
#include "tools/dump/jobs.h"
#include "tools/dump/live_table.h"
#include "tools/dump/output_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace vorkast::tools {

int RecordTable(const RecordOptions& o) {
    TableSnapshot last;
    {
        const SensorSection section;
        if (!CanCapture(section)) { return 1; }
        last = ReadSnapshot(section, true);
    }
    OutputFile out(o.file);
    out.Write(CaptureText(last));

    StopSignal stop;
    if (!o.ignore_stdin) { StopAtEndOfInput(&stop); }
    std::printf("vorkast-dump: recording VorkastSensors into %s every %llu ms; stop with Ctrl+C%s\n", o.file.c_str(),
                o.interval_ms, o.ignore_stdin || !HasStandardInput() ? "" : " or by ending standard input");
    std::fflush(stdout);
    const ULONGLONG start = ::GetTickCount64();
    ULONGLONG next = start + o.interval_ms;
    ULONGLONG end = start;
    std::size_t samples = 0, changes = 0;
    const char* why = nullptr;
    for (;;) {
        ULONGLONG now = ::GetTickCount64();
        ULONGLONG wake = next;
        if (o.duration_ms != 0) { wake = std::min<ULONGLONG>(wake, start + o.duration_ms); }
        if (::WaitForSingleObject(stop.event(), wake > now ? static_cast<DWORD>(wake - now) : 0) == WAIT_OBJECT_0) {
            why = stop.reason();
            end = ::GetTickCount64();
            break;
        }
        now = ::GetTickCount64();
        if (o.duration_ms != 0 && now >= start + o.duration_ms) {
            why = "--duration";
            end = start + o.duration_ms;
            break;
        }
        if (now < next) { continue; }
        next += o.interval_ms * ((now - next) / o.interval_ms + 1);
        // Opened anew for every sample, as the plug-in does: a table that goes away is seen.
        const SensorSection section;
        if (!section.is_open()) {
            why = "the table was withdrawn";
            end = now;
            break;
        }
        if (section.readable_size() != last.readable) {
            why = "the table was replaced by one of another size";
            end = now;
            break;
        }
        TableSnapshot table = ReadSnapshot(section, false);
        const std::string lines = ChangeLines(last, table);
        ++samples;
        if (!lines.empty()) {
            out.Write(AtLine(now - start) + lines);
            changes += static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n'));
            last = std::move(table);
        }
    }
    out.Write(EndLine(end - start));
    out.Close();
    std::printf("vorkast-dump: recording stopped (%s): %zu change%s in %zu samples over %llu ms, in %s\n", why,
                changes, changes == 1 ? "" : "s", samples, static_cast<unsigned long long>(end - start),
                o.file.c_str());
    return 0;
}

}  // namespace vorkast::tools
