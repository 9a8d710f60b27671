#include "tools/publish/replay.h"

#include "tools/publish/served_records.h"

namespace vorkast::tools {

Replay::Replay(const SensorFile& file, bool loop, bool keep_busy, const SensorTableHeader& first,
               std::size_t fitting)
    : file_(file), timeline_(file, loop), keep_busy_(keep_busy), first_(first), fitting_(fitting) {}

bool Replay::Apply(unsigned long long elapsed_ms, SensorTableWriter& writer) {
    bool ended = false;
    const RecordedChange* change = nullptr;
    for (;;) {
        switch (timeline_.Next(elapsed_ms, &change)) {
            case ReplayTimeline::Step::none: return ended;
            case ReplayTimeline::Step::change: Write(*change, writer); break;
            case ReplayTimeline::Step::new_pass: Restore(writer); break;
            case ReplayTimeline::Step::ended: ended = true; break;
        }
    }
}

void Replay::Write(const RecordedChange& c, SensorTableWriter& writer) {
    if (c.kind == RecordedChange::Kind::header) {
        if (writer.size() >= kSensorTableHeaderSize) {
            if (c.reserved_given) { writer.header().reserved = c.reserved; }
            writer.set_version(c.version);
            writer.set_count(c.count);
        }
        return;
    }
    if (c.index >= writer.capacity()) { return; }  // --section-bytes left it out
    touched_.push_back(c.index);
    if (c.kind == RecordedChange::Kind::name) {
        WriteName(writer, c.index, c.name);
    } else {
        writer.set_stored_value(c.index, c.value);
        WriteBusyWord(writer, c.index, c.busy, keep_busy_);
    }
}

// The next pass starts from the table as first published.
void Replay::Restore(SensorTableWriter& writer) {
    for (std::size_t index : touched_) {
        if (index < fitting_) {
            const SensorDefinition& s = file_.sensors[index];
            WriteName(writer, index, s.name);
            writer.set_stored_value(index, s.fixed);
            WriteBusyWord(writer, index, s.busy, keep_busy_);
        } else {
            writer.set_name(index, L"");
            writer.set_stored_value(index, StoredVariant{});
        }
    }
    touched_.clear();
    if (writer.size() >= kSensorTableHeaderSize) {
        writer.header().reserved = first_.reserved;
        writer.set_version(first_.version);
        writer.set_count(first_.count);
    }
}

}  // namespace vorkast::tools
