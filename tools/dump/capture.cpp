// vorkast-dump --capture: the live table written as a sensor file of the second form, which
// vorkast-publish serves again exactly as a reader sees it.
#include "tools/dump/jobs.h"
#include "tools/dump/live_table.h"
#include "tools/dump/output_file.h"

#include <cstdio>

namespace vorkast::tools {

int CaptureTable(const std::string& file) {
    TableSnapshot table;
    {
        const SensorSection section;
        if (!CanCapture(section)) { return 1; }
        table = ReadSnapshot(section, true);
    }
    OutputFile out(file);
    out.Write(CaptureText(table));
    out.Close();
    std::printf("vorkast-dump: captured VorkastSensors (version %lu, count %u, %zu bytes readable, %zu whole "
                "records) into %s\n",
                static_cast<unsigned long>(table.version), static_cast<unsigned>(table.count), table.readable,
                table.records.size(), file.c_str());
    return 0;
}

}  // namespace vorkast::tools
