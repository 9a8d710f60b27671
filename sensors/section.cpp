#include "sensors/section.h"

namespace vorkast {
namespace {

// Length of the committed, readable run of pages that starts at the view's base.
std::size_t ReadableBytes(const void* base) {
    MEMORY_BASIC_INFORMATION info{};
    if (::VirtualQuery(base, &info, sizeof info) != sizeof info) { return 0; }
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) { return 0; }
    const auto* start = static_cast<const unsigned char*>(base);
    const auto* region = static_cast<const unsigned char*>(info.BaseAddress);
    return info.RegionSize - static_cast<std::size_t>(start - region);
}

}  // namespace

SensorSection::SensorSection()
    : handle_(::OpenFileMappingA(FILE_MAP_READ, FALSE, kSensorTableName)) {
    if (!handle_) {
        state_ = State::no_section;
        return;
    }
    view_.reset(::MapViewOfFile(handle_.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view_) {
        handle_.reset();  // nothing mapped: give the handle back at once
        state_ = State::no_view;
        return;
    }
    readable_ = ReadableBytes(view_.get());
    whole_records_ = WholeRecords(readable_);
    state_ = State::open;
}

SensorSection::~SensorSection() {
    // A view keeps its section alive on its own, but the table's readers promise the order
    // view first, then handle, on every path.
    view_.reset();
    handle_.reset();
}

}  // namespace vorkast
