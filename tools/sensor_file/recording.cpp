#include "tools/sensor_file/recording.h"

namespace vorkast::tools {
namespace {

unsigned long long LastChangeMs(const SensorFile& file) {
    return file.changes.empty() ? 0 : file.changes.back().at_ms;
}

unsigned long long PassMs(const SensorFile& file) {
    const unsigned long long last = LastChangeMs(file);
    if (file.end_ms > last) { return file.end_ms; }
    unsigned long long times = 0;
    for (std::size_t i = 0; i < file.changes.size(); ++i) {
        if (i == 0 || file.changes[i].at_ms != file.changes[i - 1].at_ms) { ++times; }
    }
    const unsigned long long mean_step = times == 0 ? 0 : (last + times - 1) / times;
    return last + mean_step;
}

}  // namespace

ReplayTimeline::ReplayTimeline(const SensorFile& file, bool loop)
    : file_(file), loop_(loop), pass_ms_(PassMs(file)) {}

unsigned long long ReplayTimeline::length_ms() const {
    return file_.end_ms != 0 ? file_.end_ms : LastChangeMs(file_);
}

ReplayTimeline::Step ReplayTimeline::Next(unsigned long long elapsed_ms, const RecordedChange** change) {
    if (!active()) { return Step::none; }
    if (next_ < file_.changes.size()) {
        if (elapsed_ms < pass_start_ + file_.changes[next_].at_ms) { return Step::none; }
        *change = &file_.changes[next_++];
        return Step::change;
    }
    if (!loop_ || pass_ms_ == 0) {
        if (ended_) { return Step::none; }
        ended_ = true;
        return Step::ended;
    }
    if (elapsed_ms < pass_start_ + pass_ms_) { return Step::none; }
    pass_start_ += pass_ms_;
    next_ = 0;
    return Step::new_pass;
}

unsigned long long ReplayTimeline::next_due_ms() const {
    if (!active()) { return ~0ull; }
    if (next_ < file_.changes.size()) { return pass_start_ + file_.changes[next_].at_ms; }
    if (loop_ && pass_ms_ != 0) { return pass_start_ + pass_ms_; }
    return ended_ ? ~0ull : pass_start_;
}

}  // namespace vorkast::tools
