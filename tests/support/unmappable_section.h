// A "VorkastSensors" section that this process can open for reading but cannot map whole: the
// path on which a reader reports that it cannot read the shared data.
//
// The section is made larger than any free range of the address space, so that a view of
// all of it (MapViewOfFile with length 0) cannot be placed:
// - a 32-bit process gets a 5 GB SEC_RESERVE section: creatable, never mappable whole;
// - a 64-bit process first tries a 256 TB SEC_RESERVE section (Windows accepts one), then,
//   under Wine, where an anonymous section is backed by a sparse file on the server's disk
//   (ext4 caps that at 16 TB, which 64-bit Wine maps), a 256 TB file-backed section in a
//   tmpfs folder (Z:\dev\shm), whose sparse file costs nothing.
// Every way is checked by trying the reader's own open and map; the first section that opens
// but does not map is kept. Creating it takes milliseconds and commits no memory.
#pragma once

#include "sensors/section.h"

#include <string>

namespace vorkast::test {

class UnmappableSection {
public:
    // Never throws; see ok() and description().
    UnmappableSection();
    ~UnmappableSection() = default;  // closes the section (and deletes its file, if any)

    UnmappableSection(const UnmappableSection&) = delete;
    UnmappableSection& operator=(const UnmappableSection&) = delete;

    // True when "VorkastSensors" now exists, opens with FILE_MAP_READ and cannot be mapped.
    bool ok() const { return static_cast<bool>(section_); }

    // How the section was made, or why no way worked here (for a skip message).
    const std::string& description() const { return description_; }

private:
    bool TryAnonymous(unsigned long long size);
    bool TryFileBacked(const wchar_t* folder, unsigned long long size);
    bool KeepIfUnmappable(unique_handle section, DWORD create_error, const std::string& what);

    unique_hfile file_;
    unique_handle section_;
    std::string description_;
};

}  // namespace vorkast::test
