// The three jobs of vorkast-dump: print the table for a terminal, capture it to a sensor file,
// record it with its changes over time. Each returns the exit status (0 done, 1 no table or it
// cannot be read or written).
#pragma once

#include <string>

namespace vorkast::tools {

int PrintTable();

int CaptureTable(const std::string& file);

struct RecordOptions {
    std::string file;
    unsigned long long interval_ms = 500;
    unsigned long long duration_ms = 0;  // 0: until stopped
    bool ignore_stdin = false;
};
int RecordTable(const RecordOptions& options);

}  // namespace vorkast::tools
