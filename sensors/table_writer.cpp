#include "sensors/table_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace vorkast {
namespace {

[[noreturn]] void ThrowLastError(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

}  // namespace

SensorTableWriter::SensorTableWriter(std::size_t capacity, std::size_t section_bytes)
    : size_(section_bytes != 0 ? section_bytes : SensorTableSize(capacity)) {
    const auto size64 = static_cast<unsigned long long>(size_);
    section_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(size64 >> 32),
                                        static_cast<DWORD>(size64 & 0xFFFFFFFFu),
                                        kSensorTableName));
    if (!section_) { ThrowLastError("CreateFileMapping(VorkastSensors)"); }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        throw std::system_error(ERROR_ALREADY_EXISTS, std::system_category(),
                                "a VorkastSensors table is already published");
    }
    view_.reset(::MapViewOfFile(section_.get(), FILE_MAP_WRITE, 0, 0, size_));
    if (!view_) { ThrowLastError("MapViewOfFile(VorkastSensors)"); }
    if (size_ >= sizeof(SensorTableHeader)) {
        set_version(kSensorTableVersion);
        set_count(0);
    }
}

std::size_t SensorTableWriter::capacity() const {
    return WholeRecords(size_);
}

SensorRecord& SensorTableWriter::record(std::size_t index) {
    if (index >= capacity()) {
        throw std::out_of_range("record beyond the section");
    }
    return *reinterpret_cast<SensorRecord*>(base() + SensorRecordOffset(index));
}

void SensorTableWriter::set_name(std::size_t index, std::wstring_view name) {
    SensorRecord& r = record(index);
    const std::size_t n = std::min(name.size(), kSensorNameUnits - 1);
    std::memcpy(r.name, name.data(), n * sizeof(WCHAR));
    r.name[n] = 0;
}

void SensorTableWriter::set_name_units(std::size_t index, const WCHAR* units, std::size_t length) {
    SensorRecord& r = record(index);
    std::memcpy(r.name, units, std::min(length, kSensorNameUnits) * sizeof(WCHAR));
}

void SensorTableWriter::set_value(std::size_t index, const VARIANT& value) {
    set_stored_value(index, StoreVariant(value));
}

void SensorTableWriter::set_stored_value(std::size_t index, const StoredVariant& value) {
    SensorRecord& r = record(index);
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&r.busy), kRecordBusy);
    std::memcpy(&r.value, &value, sizeof value);  // the interlocked writes fence this copy
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&r.busy), kRecordIdle);
}

void SensorTableWriter::set_busy(std::size_t index, std::int32_t busy) {
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&record(index).busy), busy);
}

void SensorTableWriter::publish(const Sensor* sensors, std::size_t n) {
    set_version(kSensorTableVersion);
    for (std::size_t i = 0; i < n; ++i) {
        set_name(i, sensors[i].name);
        set_value(i, sensors[i].value);
    }
    set_count(static_cast<std::uint16_t>(n));
}

VARIANT MakeI4(LONG v) {
    VARIANT r;
    ::VariantInit(&r);
    r.vt = VT_I4;
    r.lVal = v;
    return r;
}

VARIANT MakeR8(double v) {
    VARIANT r;
    ::VariantInit(&r);
    r.vt = VT_R8;
    r.dblVal = v;
    return r;
}

VARIANT MakeBool(bool v) {
    VARIANT r;
    ::VariantInit(&r);
    r.vt = VT_BOOL;
    r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}

}  // namespace vorkast
