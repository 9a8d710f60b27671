// Randomized "VorkastSensors" tables thrown at the loaded plug-in: odd versions and counts
// (counts beyond the section too), section sizes that cut records or end exactly on a page,
// names with and without terminators over the whole code unit range, values of every VARIANT
// type (pointer-typed ones included) with arbitrary contents. For each table the plug-in is
// asked by number and by name, and now and then its dialog lists the table; every answer is
// compared with what a model of the table says it must be.
//
// Each case draws from its own generator, seeded from (seed, case number), so any case can be
// run again alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vorkast::test::fuzz {

struct Options {
    std::uint64_t seed = 1;
    std::uint64_t first_case = 0;   // number of the first case to run
    std::uint64_t cases = 1000;
    // Every n-th case that publishes a table also fills the dialog (0: never).
    std::uint64_t dialog_every = 25;
    // Progress line every n cases on standard output (0: none).
    std::uint64_t progress_every = 0;
    // Failures kept with their description (all are counted).
    std::size_t kept_failures = 50;
};

struct Result {
    std::uint64_t cases = 0;
    std::uint64_t value_queries = 0;   // ValueBySensor and ValueByName calls
    std::uint64_t dialogs = 0;
    std::uint64_t dialog_entries = 0;  // entries the dialogs' lists had to show
    std::uint64_t failures = 0;
    std::vector<std::string> failure_texts;       // the first kept_failures, each naming its case
    std::map<std::string, std::uint64_t> answers; // how often each kind of answer came
};

// Runs the cases against the plug-in beside the running program (tests/support/plugin_fixture.h)
// on the calling thread. The calling thread pumps messages while a dialog is open. A case that
// takes longer than a minute, or a crash, is reported on standard error with its seed and
// number before the process ends.
Result RunCases(const Options& options);

// The table that case `number` of `seed` is made of, for other suites that need the same odd
// tables (the capture round trip): whether one is published, the section's size, and what a
// reader's view of it shows (whole pages). The run leaves a record busy with chance 1/1500;
// `stuck_chance` sets that chance here without changing anything else of the table.
struct CaseTable {
    bool present = false;
    std::size_t section_bytes = 0;
    std::vector<unsigned char> image;
};
CaseTable TableOfCase(std::uint64_t seed, std::uint64_t number, std::size_t page, double stuck_chance);

// "seed 7, case 1234" and how to run that case alone.
std::string CaseName(std::uint64_t seed, std::uint64_t number);

}  // namespace vorkast::test::fuzz
