#include "tests/support/release_log.h"

#include <algorithm>

namespace vorkast::test {
namespace {

ReleaseLog* g_log = nullptr;
decltype(&::OpenFileMappingA) g_open = nullptr;
decltype(&::MapViewOfFile) g_map = nullptr;
decltype(&::UnmapViewOfFile) g_unmap = nullptr;
decltype(&::CloseHandle) g_close = nullptr;

HANDLE WINAPI NotedOpen(DWORD access, BOOL inherit, LPCSTR name) {
    return g_log->opened(g_open(access, inherit, name));
}

LPVOID WINAPI NotedMap(HANDLE section, DWORD access, DWORD offset_high, DWORD offset_low, SIZE_T bytes) {
    return g_log->mapped(section, g_map(section, access, offset_high, offset_low, bytes));
}

BOOL WINAPI NotedUnmap(LPCVOID view) {
    g_log->unmapping(view);
    return g_unmap(view);
}

BOOL WINAPI NotedClose(HANDLE handle) {
    g_log->closing(handle);
    return g_close(handle);
}

template <class Fn>
Fn Original(const ImportPatch& patch) {
    return reinterpret_cast<Fn>(const_cast<void*>(patch.original()));
}

}  // namespace

ReleaseLog::ReleaseLog(HMODULE module)
    : open_(module, "kernel32.dll", "OpenFileMappingA", reinterpret_cast<const void*>(&NotedOpen)),
      map_(module, "kernel32.dll", "MapViewOfFile", reinterpret_cast<const void*>(&NotedMap)),
      unmap_(module, "kernel32.dll", "UnmapViewOfFile", reinterpret_cast<const void*>(&NotedUnmap)),
      close_(module, "kernel32.dll", "CloseHandle", reinterpret_cast<const void*>(&NotedClose)) {
    g_open = Original<decltype(g_open)>(open_);
    g_map = Original<decltype(g_map)>(map_);
    g_unmap = Original<decltype(g_unmap)>(unmap_);
    g_close = Original<decltype(g_close)>(close_);
    g_log = this;
}

ReleaseLog::~ReleaseLog() { g_log = nullptr; }

bool ReleaseLog::active() const {
    return open_.active() && map_.active() && unmap_.active() && close_.active();
}

std::string ReleaseLog::text() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const std::string& call : calls_) { text += (text.empty() ? "" : ", ") + call; }
    return text;
}

void ReleaseLog::clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    handles_.clear();
    views_.clear();
    handles_given_ = 0;
    views_given_ = 0;
}

std::string ReleaseLog::give_name(const void* value, char prefix, std::vector<Named>& live, int& given) {
    if (value == nullptr) { return "none"; }
    live.push_back({value, prefix + std::to_string(++given)});
    return live.back().name;
}

std::string ReleaseLog::take_name(const void* value, std::vector<Named>& live, bool forget) {
    const auto it = std::find_if(live.begin(), live.end(), [&](const Named& n) { return n.value == value; });
    if (it == live.end()) { return "?"; }
    std::string name = it->name;
    if (forget) { live.erase(it); }
    return name;
}

HANDLE ReleaseLog::opened(HANDLE section) {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back("open " + give_name(section, 'H', handles_, handles_given_));
    return section;
}

void* ReleaseLog::mapped(HANDLE section, void* view) {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back("map " + take_name(section, handles_, false) + " " + give_name(view, 'V', views_, views_given_));
    return view;
}

void ReleaseLog::unmapping(const void* view) {
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back("unmap " + take_name(view, views_, true));
}

void ReleaseLog::closing(HANDLE handle) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::string name = take_name(handle, handles_, true);
    if (name != "?") { calls_.push_back("close " + name); }
}

}  // namespace vorkast::test
