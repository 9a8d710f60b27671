// How a recording plays out when it is served: the table as captured, then each change at its
// time since the start (`@at`); once, or with --loop pass after pass, each pass starting from
// the captured table again.
//
// A pass lasts the recording's length (`@end`). Where that would leave the last change no time
// to be seen (no `@end`, or `@end` at the last change), the last state is held for the
// recording's mean step before the next pass begins: the time of its last change divided by
// the number of times at which it changes, rounded up.
#pragma once

#include "tools/sensor_file/sensor_file.h"

namespace vorkast::tools {

class ReplayTimeline {
public:
    ReplayTimeline(const SensorFile& file, bool loop);

    bool active() const { return file_.is_recording(); }
    // The recording's length: its `@end`, else the time of its last change.
    unsigned long long length_ms() const;
    // How long one pass lasts when looping (0: the recording does not last, nothing to loop).
    unsigned long long pass_ms() const { return pass_ms_; }

    enum class Step {
        none,      // nothing is due yet (or ever again)
        change,    // write *change now
        new_pass,  // a pass has ended: restore the captured table, the next pass begins
        ended,     // a single replay has just written its last change
    };
    // The next step that is due `elapsed_ms` after the replay began. Call it until it answers
    // Step::none.
    Step Next(unsigned long long elapsed_ms, const RecordedChange** change);

    // When the next step is due, in ms since the replay began; ~0ull when none will be.
    unsigned long long next_due_ms() const;

private:
    const SensorFile& file_;
    const bool loop_;
    const unsigned long long pass_ms_;
    unsigned long long pass_start_ = 0;
    std::size_t next_ = 0;
    bool ended_ = false;
};

}  // namespace vorkast::tools
