#include "tests/support/unmappable_section.h"

#include "sensors/table_layout.h"

#include <windows.h>

#include <string>

namespace vorkast::test {
namespace {

constexpr unsigned long long kGiB = 1ull << 30;
constexpr unsigned long long kTiB = 1ull << 40;

std::string SizeText(unsigned long long size) {
    return size >= kTiB ? std::to_string(size / kTiB) + " TB" : std::to_string(size / kGiB) + " GB";
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());  // folder names here are ASCII
}

}  // namespace

UnmappableSection::UnmappableSection() {
    if (sizeof(void*) == 4) {
        if (TryAnonymous(5 * kGiB)) { return; }
    } else {
        if (TryAnonymous(256 * kTiB)) { return; }
        if (TryFileBacked(L"Z:\\dev\\shm", 256 * kTiB)) { return; }
    }
    description_ = "no section that opens but cannot be mapped could be made in this process (" +
                   description_ + ")";
}

bool UnmappableSection::TryAnonymous(unsigned long long size) {
    unique_handle section(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE,
                                               static_cast<DWORD>(size >> 32), static_cast<DWORD>(size),
                                               kSensorTableName));
    const DWORD create_error = ::GetLastError();
    return KeepIfUnmappable(std::move(section), create_error, SizeText(size) + " SEC_RESERVE section");
}

bool UnmappableSection::TryFileBacked(const wchar_t* folder, unsigned long long size) {
    const std::wstring path = std::wstring(folder) + L"\\vorkast-unmappable-" +
                              std::to_wstring(::GetCurrentProcessId()) + L".bin";
    const std::string what = SizeText(size) + " section of a sparse file in " + Narrow(folder);
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr));
    if (!file) {
        description_ += (description_.empty() ? "" : "; ") + what + ": cannot create the file";
        return false;
    }
    unique_handle section(::CreateFileMappingA(file.get(), nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                               static_cast<DWORD>(size), kSensorTableName));
    const DWORD create_error = ::GetLastError();
    if (!KeepIfUnmappable(std::move(section), create_error, what)) { return false; }
    file_ = std::move(file);
    return true;
}

bool UnmappableSection::KeepIfUnmappable(unique_handle section, DWORD create_error, const std::string& what) {
    std::string outcome;
    if (!section) {
        outcome = "cannot be created (error " + std::to_string(create_error) + ")";
    } else if (create_error == ERROR_ALREADY_EXISTS) {
        outcome = "a VorkastSensors table is already published";
    } else {
        // The reader's own steps: open by name for reading, then map all of it.
        const unique_handle reader(::OpenFileMappingA(FILE_MAP_READ, FALSE, kSensorTableName));
        if (!reader) {
            outcome = "cannot be opened (error " + std::to_string(::GetLastError()) + ")";
        } else {
            const unique_view view(::MapViewOfFile(reader.get(), FILE_MAP_READ, 0, 0, 0));
            if (!view) {
                section_ = std::move(section);
                description_ = what + ", which this process cannot map";
                return true;
            }
            outcome = "can be mapped";
        }
    }
    description_ += (description_.empty() ? "" : "; ") + what + ": " + outcome;
    return false;
}

}  // namespace vorkast::test
