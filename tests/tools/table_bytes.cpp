// table_bytes: prints the live table as a reader sees it (tests/tools/seen_table.h), one line
// for the shape and one per whole record, so that tables in two Wine prefixes can be compared
// byte for byte from a script. Exit status 1 when no table is published.
#include "tests/tools/seen_table.h"

#include <cstdio>

int main() {
    const vorkast::test::SeenTable seen = vorkast::test::SeeTable();
    if (!seen.present) {
        std::fputs("table_bytes: no VorkastSensors table\n", stderr);
        return 1;
    }
    std::printf("readable %zu, header %s\n", seen.readable, seen.header.c_str());
    for (std::size_t i = 0; i < seen.records.size(); ++i) { std::printf("%zu: %s\n", i + 1, seen.records[i].c_str()); }
    return 0;
}
