// The live "VorkastSensors" table as a reader sees it, in a form to compare: the readable size,
// the header's 8 bytes and, for every whole record in the view, its name's code units up to the
// terminator (all 322 without one), its busy word and its 16 value bytes, in hexadecimal.
#pragma once

#include "sensors/section.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace vorkast::test {

inline std::string Hex(const void* data, std::size_t size) {
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02x", bytes[i]);
        text += b;
    }
    return text;
}

struct SeenTable {
    bool present = false;
    std::size_t readable = 0;
    std::string header;
    std::vector<std::string> records;
};

inline SeenTable SeeTable() {
    SeenTable seen;
    const SensorSection section;
    if (!section.is_open()) { return seen; }
    seen.present = true;
    seen.readable = section.readable_size();
    if (section.has_header()) { seen.header = Hex(section.base(), kSensorTableHeaderSize); }
    const std::size_t records = section.whole_records();
    for (std::size_t i = 0; i < records; ++i) {
        const SensorRecord* r = section.record(i);
        std::size_t length = 0;
        while (length < kSensorNameUnits && r->name[length] != 0) { ++length; }
        seen.records.push_back("name " + Hex(r->name, length * sizeof(WCHAR)) +
                               (length == kSensorNameUnits ? " (no terminator)" : "") + ", busy " +
                               Hex(&r->busy, sizeof r->busy) + ", value " + Hex(&r->value, sizeof r->value));
    }
    return seen;
}

}  // namespace vorkast::test
