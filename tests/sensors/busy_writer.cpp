// Publishes sensors "A", "B", "C" (values 1, 2, 3) with B's busy word set, as a writer caught
// in the middle of an update. Prints "ready". Each input line "set N" then stores N as B's
// value and clears the busy word ("done"); end of input ends the program.
#include "sensors/table_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

int main() {
    try {
        vorkast::SensorTableWriter table(3);
        const vorkast::SensorTableWriter::Sensor sensors[] = {
            {L"A", vorkast::MakeI4(1)}, {L"B", vorkast::MakeI4(2)}, {L"C", vorkast::MakeI4(3)}};
        table.publish(sensors, 3);
        table.set_busy(1, vorkast::kRecordBusy);
        std::printf("ready\n");
        std::fflush(stdout);
        char line[64];
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
            if (std::strncmp(line, "set ", 4) == 0) {
                std::memcpy(&table.record(1).value, vorkast::StoreVariant(vorkast::MakeI4(std::atoi(line + 4))).bytes,
                            sizeof(vorkast::StoredVariant));
                table.set_busy(1, vorkast::kRecordIdle);
                std::printf("done\n");
                std::fflush(stdout);
            }
        }
        return 0;
    } catch (const std::exception& e) {
        std::printf("busy_writer: %s\n", e.what());
        return 1;
    }
}
