// Replaying a recording into the published table: each change written at its time (the
// timeline of tools/sensor_file/recording.h decides when), and with --loop the captured table
// restored before each new pass.
#pragma once

#include "sensors/table_writer.h"
#include "tools/sensor_file/recording.h"

#include <cstddef>
#include <vector>

namespace vorkast::tools {

class Replay {
public:
    // `first` is the header as first published; `fitting` the file's records that the section
    // holds.
    Replay(const SensorFile& file, bool loop, bool keep_busy, const SensorTableHeader& first, std::size_t fitting);

    const ReplayTimeline& timeline() const { return timeline_; }

    // Writes everything due `elapsed_ms` after publishing began. True when a single replay has
    // just written its last change.
    bool Apply(unsigned long long elapsed_ms, SensorTableWriter& writer);

private:
    void Write(const RecordedChange& change, SensorTableWriter& writer);
    void Restore(SensorTableWriter& writer);

    const SensorFile& file_;
    ReplayTimeline timeline_;
    const bool keep_busy_;
    const SensorTableHeader first_;
    const std::size_t fitting_;
    std::vector<std::size_t> touched_;  // records changed in this pass
};

}  // namespace vorkast::tools
