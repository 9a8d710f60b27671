// vorkast-bench: how much the plug-in adds on top of what its design makes every request pay.
//
// Every request opens the "VorkastSensors" section, maps it, reads it and releases it again;
// nothing is cached, so that cost is fixed. Each figure here is therefore a ratio to a floor
// measured in the same run: the least work that any correct reader must do for the same answer.
// Measured calls and floor calls take turns, so that a drift of the machine (other load, clock
// changes) touches both alike; figures are medians.
//
//   vorkast-bench [reads] [dialog] [busy] [blocks=N] [rounds=N] [hold=US]   (no section: all)
//
//   blocks  blocks of call pairs for the read figures (default 51)
//   rounds  rounds of the dialog figures (default 5)
//   hold    microseconds a writer keeps a record busy while a read waits (default 2000)
//
//   reads   ValueBySensor and ValueByName against their floors. Under Wine the cost of a
//           section call depends on whether the process and the wineserver share a CPU: pin
//           both to one CPU (bench/run.sh does).
//   dialog  configure's list of 65,535 sensors against the same strings put directly into a
//           list box of the same dialog template.
//   busy    how soon a read that waits on a busy record returns once the writer clears the
//           word, against a minimal reader waiting the same way, and how long a read waits
//           for a word that is never cleared and how much processor time it uses meanwhile.
//           Needs two CPUs: keep the wineserver on the first CPU of the process (the
//           reader's) and off the second (the writer's).
#include "dialog/resource.h"
#include "sensors/section.h"
#include "sensors/stable_copy.h"
#include "sensors/table_layout.h"
#include "sensors/table_writer.h"
#include "tools/host/plugin_host.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace vorkast::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::micro>(end - start).count();
}

// Everything the floors read ends up here, so that no read can be left out by the compiler.
volatile std::uint64_t g_sink = 0;

// How long the writer keeps a record busy while a read waits on it, in microseconds.
int g_hold_us = 2000;

double Percentile(std::vector<double> values, double q) {
    if (values.empty()) { return 0; }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(std::lround(q * static_cast<double>(values.size() - 1)))];
}

struct Spread {
    double median, p10, p90;
};

Spread SpreadOf(const std::vector<double>& values) {
    return {Percentile(values, 0.5), Percentile(values, 0.1), Percentile(values, 0.9)};
}

const char* Verdict(double ratio, double target) { return ratio <= target ? "met" : "MISSED"; }

// ---- The machine ------------------------------------------------------------------------------

std::string CpuName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, R"(HARDWARE\DESCRIPTION\System\CentralProcessor\0)",
                       "ProcessorNameString", RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS) {
        return "unknown processor";
    }
    std::string text = name;
    text.erase(0, text.find_first_not_of(' '));
    return text;
}

std::string WineVersion() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    using VersionFn = const char*(CDECL*)();
    using HostFn = void(CDECL*)(const char**, const char**);
    const auto version = reinterpret_cast<VersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
    if (version == nullptr) { return "none (native Windows)"; }
    std::string text = std::string("Wine ") + version();
    const auto host = reinterpret_cast<HostFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_host_version")));
    if (host != nullptr) {
        const char* system = nullptr;
        const char* release = nullptr;
        host(&system, &release);
        text += std::string(" on ") + (system ? system : "?") + " " + (release ? release : "?");
    }
    return text;
}

int BitCount(DWORD_PTR mask) {
    int n = 0;
    for (; mask != 0; mask &= mask - 1) { ++n; }
    return n;
}

void PrintMachine() {
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    ::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask);
    std::printf("machine:  %s, %lu logical processors; this process may run on %d of them (mask 0x%llx)\n",
                CpuName().c_str(), info.dwNumberOfProcessors, BitCount(process_mask),
                static_cast<unsigned long long>(process_mask));
    std::printf("platform: %s; %d-bit build of the plug-in\n", WineVersion().c_str(),
                static_cast<int>(sizeof(void*) * 8));
}

// ---- The plug-in ------------------------------------------------------------------------------

std::string BesideThisProgram(const char* file_name) {
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    dir.erase(dir.find_last_of("\\/") + 1);
    return dir + file_name;
}

class LoadedPlugin {
public:
    LoadedPlugin()
        : library_(BesideThisProgram("VorkastPlugin.dll")),
          interface_(library_),
          by_number_(interface_.require_value_function("ValueBySensor")),
          by_name_(interface_.require_value_function("ValueByName")) {}

    const host::PluginInterface& api() const { return interface_; }
    HMODULE module() const { return library_.module(); }
    host::ValueFn by_number() const { return by_number_; }
    host::ValueFn by_name() const { return by_name_; }

private:
    host::PluginLibrary library_;
    host::PluginInterface interface_;
    host::ValueFn by_number_;
    host::ValueFn by_name_;
};

// The platform's text of a by-value variant in the ANSI code page, as the plug-in answers it.
std::string PlatformText(const VARIANT& value) {
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR))) { return "<no text>"; }
    char narrow[256] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text.bstrVal, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    ::VariantClear(&text);
    return narrow;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) { out.push_back(static_cast<char>(c)); }  // names here are ASCII
    return out;
}

// Realistic sensor names, unique across 65,535 records; one record in eight shares the kind
// (and so the first bytes) of any given name.
std::wstring SensorName(std::size_t index) {
    static const wchar_t* const kinds[] = {L"CPU Core", L"CPU Package", L"GPU Core", L"GPU Memory",
                                           L"Fan",      L"Drive",       L"Voltage",  L"Power"};
    return std::wstring(kinds[index % 8]) + L" #" + std::to_wstring(index / 8 + 1);
}

// Names as many sensor programs give them: one long shared prefix and a number, "Sensor 1" to
// "Sensor 65535". A search must compare past the prefix on every record.
std::wstring SharedPrefixName(std::size_t index) { return L"Sensor " + std::to_wstring(index + 1); }

// A published table of `count` named records whose values are VT_I4 numbers.
std::unique_ptr<SensorTableWriter> NamedTable(std::size_t count, std::wstring (*name)(std::size_t) = SensorName) {
    auto table = std::make_unique<SensorTableWriter>(count);
    for (std::size_t i = 0; i < count; ++i) {
        table->set_name(i, name(i));
        table->set_value(i, MakeI4(static_cast<LONG>(i)));
    }
    table->set_count(static_cast<std::uint16_t>(count));
    return table;
}

bool ExpectAnswer(const char* what, const char* answer, const std::string& expected) {
    if (answer != nullptr && expected == answer) { return true; }
    std::printf("  ERROR: %s answered \"%s\", expected \"%s\"\n", what, host::TextOrNull(answer).c_str(),
                expected.c_str());
    return false;
}

// ---- Floors -----------------------------------------------------------------------------------

// The least that any reader of one value does: open the section, map all of it, read the header,
// the record's busy word and its 16 value bytes from the fresh view, unmap, close.
void FloorValueRead(std::size_t index) {
    const unique_handle section(::OpenFileMappingA(FILE_MAP_READ, FALSE, kSensorTableName));
    const unique_view view(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
    const auto* base = static_cast<const unsigned char*>(view.get());
    const auto* header = reinterpret_cast<const volatile SensorTableHeader*>(base);
    std::uint64_t sink = header->version + header->count;
    const auto* record = reinterpret_cast<const volatile SensorRecord*>(base + SensorRecordOffset(index));
    sink += static_cast<std::uint32_t>(record->busy);
    const auto* value = reinterpret_cast<const volatile std::uint64_t*>(&record->value);
    sink += value[0] + value[1];
    g_sink = g_sink + sink;
}

// The least that any search by name does: one pass over a fresh view that reads the first code
// unit of every record (each record must be looked at), plus the value read's own cycle.
void FloorNameSearch(std::size_t last) {
    {
        const unique_handle section(::OpenFileMappingA(FILE_MAP_READ, FALSE, kSensorTableName));
        const unique_view view(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
        const auto* base = static_cast<const unsigned char*>(view.get());
        const auto* header = reinterpret_cast<const volatile SensorTableHeader*>(base);
        std::uint64_t sink = header->version;
        const std::size_t count = header->count;
        for (std::size_t i = 0; i < count; ++i) {
            sink += reinterpret_cast<const volatile SensorRecord*>(base + SensorRecordOffset(i))->name[0];
        }
        g_sink = g_sink + sink;
    }
    FloorValueRead(last);
}

// ---- Interleaved comparison -------------------------------------------------------------------

struct Paired {
    std::vector<double> measured;  // per block: median microseconds of one call
    std::vector<double> floor;
    std::vector<double> ratio;     // measured / floor of the same block
};

// Runs `blocks` blocks of `calls` pairs. Within a pair the measured call and the floor call take
// turns going first, and each call is timed by itself; a block's figure for each side is the
// median of its calls. Calls that the scheduler interrupts (other load on the machine) are then
// outliers on either side and do not move the figures.
template <class Measured, class Floor>
Paired Interleave(int blocks, int calls, Measured measured, Floor floor) {
    for (int i = 0; i < std::min(calls, 20); ++i) {  // warm-up: code, pages, first-use caches
        measured();
        floor();
    }
    auto timed = [](auto& fn) {
        const auto start = Clock::now();
        fn();
        return Micros(start, Clock::now());
    };
    Paired p;
    std::vector<double> m(static_cast<std::size_t>(calls));
    std::vector<double> f(static_cast<std::size_t>(calls));
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < calls; ++i) {
            if ((i + b) % 2 == 0) {
                f[i] = timed(floor);
                m[i] = timed(measured);
            } else {
                m[i] = timed(measured);
                f[i] = timed(floor);
            }
        }
        p.measured.push_back(Percentile(m, 0.5));
        p.floor.push_back(Percentile(f, 0.5));
        p.ratio.push_back(p.measured.back() / p.floor.back());
    }
    return p;
}

void PrintPaired(const char* what, const char* floor_what, const Paired& p, double target, int blocks, int calls) {
    const Spread m = SpreadOf(p.measured);
    const Spread f = SpreadOf(p.floor);
    const Spread r = SpreadOf(p.ratio);
    std::printf("  %-52s %9.1f us   (blocks: p10 %.1f, p90 %.1f)\n", what, m.median, m.p10, m.p90);
    std::printf("  %-52s %9.1f us   (blocks: p10 %.1f, p90 %.1f)\n", floor_what, f.median, f.p10, f.p90);
    std::printf("  ratio %.3f   target <= %.2f: %s   (median of %d block ratios, p10 %.3f, p90 %.3f;"
                " ratio of the medians %.3f)\n",
                r.median, target, Verdict(r.median, target), blocks, r.p10, r.p90, m.median / f.median);
    std::printf("        %d blocks of %d call pairs; a block's figure is the median of its single-call times\n",
                blocks, calls);
}

// ---- reads ------------------------------------------------------------------------------------

int RunReads(const LoadedPlugin& plugin, int blocks) {
    int errors = 0;
    const host::PluginInstance instance(plugin.api(), nullptr);
    const auto by_number = plugin.by_number();
    const auto by_name = plugin.by_name();
    void* const handle = instance.handle();

    {
        // A table of 200 sensors as a sensor program publishes it; sensor 100 holds a reading
        // with a fraction (VT_R8), sensor 101 a whole number (VT_I4).
        auto table = NamedTable(200);
        const VARIANT reading = MakeR8(47.625);
        table->set_value(99, reading);
        const VARIANT whole = MakeI4(1850);
        table->set_value(100, whole);

        struct Case {
            const char* title;
            const char* parameter;
            std::size_t index;
            std::string expected;
        } cases[] = {
            {"ValueBySensor(\"100\"), a VT_R8 reading", "100", 99, PlatformText(reading)},
            {"ValueBySensor(\"101\"), a VT_I4 reading", "101", 100, PlatformText(whole)},
        };
        for (const Case& c : cases) {
            std::printf("\n%s, table of 200 records (answer \"%s\")\n", c.title, c.expected.c_str());
            if (!ExpectAnswer("ValueBySensor", by_number(handle, c.parameter), c.expected)) { ++errors; }
            const int calls = 100;
            const Paired p = Interleave(
                blocks, calls, [&] { by_number(handle, c.parameter); }, [&] { FloorValueRead(c.index); });
            PrintPaired("ValueBySensor, one call", "floor: open, map, read header+busy+value, unmap, close", p,
                        1.10, blocks, calls);
        }
    }

    // 65,535 records (45.6 MB); the name searched for is the last one's. Its number is above
    // 127, so the request ends "Invalid sensor number" after the second cycle, which the floor's
    // second cycle (reading a busy word and a value as well) overstates if anything. Two kinds of
    // names: varied ones, where most records differ from the query in their first bytes, and
    // names that all share a 7-character prefix with the query, where every record is compared
    // past it.
    struct NameCase {
        const char* title;
        std::wstring (*name)(std::size_t);
        double target;
    } name_cases[] = {
        {"varied names", SensorName, 1.30},
        {"names sharing the prefix \"Sensor \"", SharedPrefixName, 1.20},
    };
    for (const NameCase& c : name_cases) {
        constexpr std::size_t kRecords = 65535;
        auto table = NamedTable(kRecords, c.name);
        const std::string query = Narrow(c.name(kRecords - 1));
        std::printf("\nValueByName(\"%s\"), the last of %zu records (%.1f MB), %s\n", query.c_str(), kRecords,
                    SensorTableSize(kRecords) / 1048576.0, c.title);
        if (!ExpectAnswer("ValueByName", by_name(handle, query.c_str()), "Invalid sensor number")) { ++errors; }
        const int calls = 5;
        const int name_blocks = std::max(5, blocks / 4) | 1;
        const Paired p = Interleave(
            name_blocks, calls, [&] { by_name(handle, query.c_str()); }, [&] { FloorNameSearch(kRecords - 1); });
        PrintPaired("ValueByName, one call", "floor: two cycles + first unit of every record", p, c.target,
                    name_blocks, calls);
    }
    return errors;
}

// ---- dialog -----------------------------------------------------------------------------------

// How a dialog of template IDD_SENSORS gets its list, in one timed run.
enum class Fill {
    configure,       // the plug-in's configure: reads the table and fills the list itself
    direct_same,     // the same list box calls as the plug-in makes, with the strings ready
    direct_read,     // the same, after one pass over a fresh view of the table (every name's
                     // first unit): the least that a fill from the table must do
    direct_plain,    // one LB_ADDSTRING per string and nothing else
    empty,           // no entries: what creating, showing and painting the dialog costs
};
constexpr Fill kFills[] = {Fill::configure, Fill::direct_same, Fill::direct_read, Fill::direct_plain, Fill::empty};
constexpr int kFillKinds = static_cast<int>(std::size(kFills));

const char* FillTitle(Fill fill) {
    switch (fill) {
        case Fill::configure: return "configure (the plug-in reads the table)";
        case Fill::direct_same: return "direct fill, the same list box calls";
        case Fill::direct_read: return "the same after one pass over a fresh view";
        case Fill::direct_plain: return "direct fill, LB_ADDSTRING alone";
        case Fill::empty: return "the same dialog, empty";
    }
    return "";
}

struct DialogRun {
    Fill fill = Fill::empty;
    const std::vector<std::wstring>* entries = nullptr;
    bool shown = false;
    Clock::time_point shown_at;
    LRESULT listed = -1;  // entries in the list box once shown
};

DialogRun* g_run = nullptr;  // the run in progress on the dialog thread

// The owner of every dialog. The modal loop shows the dialog the first time its queue is empty
// and then sends the owner WM_ENTERIDLE: at that moment the list is filled and the dialog is
// visible. The owner paints it at once (so that drawing the filled list is counted too), takes
// the time and ends the dialog. Every kind of run ends the same way, and nothing hooks the
// messages of the fill itself.
LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ENTERIDLE && wparam == MSGF_DIALOGBOX && g_run != nullptr && !g_run->shown) {
        const auto dialog = reinterpret_cast<HWND>(lparam);
        ::RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        g_run->shown_at = Clock::now();
        g_run->shown = ::IsWindowVisible(dialog) != FALSE;
        g_run->listed = ::SendMessageW(::GetDlgItem(dialog, IDC_SENSOR_LIST), LB_GETCOUNT, 0, 0);
        ::EndDialog(dialog, 0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

// Matches the plug-in's own estimate of characters per entry for the storage it reserves.
constexpr std::size_t kTypicalEntryUnits = 32;

// One pass over a fresh view of the table that reads the first code unit of every record.
void PassOverTable() {
    const unique_handle section(::OpenFileMappingA(FILE_MAP_READ, FALSE, kSensorTableName));
    const unique_view view(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
    const auto* base = static_cast<const unsigned char*>(view.get());
    const std::size_t count = reinterpret_cast<const volatile SensorTableHeader*>(base)->count;
    std::uint64_t sink = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sink += reinterpret_cast<const volatile SensorRecord*>(base + SensorRecordOffset(i))->name[0];
    }
    g_sink = g_sink + sink;
}

INT_PTR CALLBACK DirectProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* run = reinterpret_cast<const DialogRun*>(lparam);
            if (run->fill == Fill::empty) { return TRUE; }
            if (run->fill == Fill::direct_read) { PassOverTable(); }
            const HWND list = ::GetDlgItem(dialog, IDC_SENSOR_LIST);
            const bool same = run->fill != Fill::direct_plain;
            const std::size_t n = run->entries->size();
            if (same) {
                ::SendMessageW(list, LB_INITSTORAGE, n, n * kTypicalEntryUnits * sizeof(WCHAR));
                ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
            }
            for (const std::wstring& entry : *run->entries) {
                ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
            }
            if (same) {
                ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
                ::InvalidateRect(list, nullptr, TRUE);
            }
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) { ::EndDialog(dialog, 1); }
            return TRUE;
        default:
            return FALSE;
    }
}

int RunDialog(const LoadedPlugin& plugin, int rounds) {
    constexpr std::size_t kRecords = 65535;
    const auto table = NamedTable(kRecords);
    std::vector<std::wstring> entries;
    entries.reserve(kRecords);
    for (std::size_t i = 0; i < kRecords; ++i) { entries.push_back(std::to_wstring(i + 1) + L": " + SensorName(i)); }

    std::printf("\nconfigure's list of %zu sensors vs the same strings put into a list box of the same template\n",
                kRecords);
    std::printf("  each run: from the call (configure or DialogBoxParamA) until the dialog is shown and painted\n");
    std::vector<double> ms[kFillKinds];
    std::vector<double> ratio_same;
    std::vector<double> ratio_read;
    int errors = 0;

    // Everything runs on one thread: the owner window, the dialogs, and the plug-in instance
    // whose window owns configure's dialog, as on a host's thread.
    std::thread worker([&] {
        WNDCLASSW cls{};
        cls.lpfnWndProc = OwnerProc;
        cls.hInstance = ::GetModuleHandleW(nullptr);
        cls.lpszClassName = L"VorkastBenchOwner";
        ::RegisterClassW(&cls);
        const HWND owner = ::CreateWindowExW(0, cls.lpszClassName, L"Bench host", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                             300, nullptr, nullptr, cls.hInstance, nullptr);
        const host::PluginInstance instance(plugin.api(), owner);
        for (int r = -1; r < rounds; ++r) {  // round -1 warms up every kind and is not counted
            double round_ms[kFillKinds] = {};
            for (int k = 0; k < kFillKinds; ++k) {
                const int which = (k + (r < 0 ? 0 : r)) % kFillKinds;  // the order rotates every round
                DialogRun run;
                run.fill = kFills[which];
                run.entries = &entries;
                g_run = &run;
                const auto start = Clock::now();
                if (run.fill == Fill::configure) {
                    plugin.api().configure();
                } else {
                    ::DialogBoxParamA(plugin.module(), MAKEINTRESOURCEA(IDD_SENSORS), owner, DirectProc,
                                      reinterpret_cast<LPARAM>(&run));
                }
                g_run = nullptr;
                const LRESULT expected = run.fill == Fill::empty ? 0 : static_cast<LRESULT>(kRecords);
                if (!run.shown || run.listed != expected) {
                    std::printf("  ERROR: %s: shown %d, %ld entries listed, expected %ld\n", FillTitle(run.fill),
                                run.shown, static_cast<long>(run.listed), static_cast<long>(expected));
                    ++errors;
                }
                round_ms[which] = Micros(start, run.shown_at) / 1000.0;
            }
            if (r < 0) { continue; }
            for (int k = 0; k < kFillKinds; ++k) { ms[k].push_back(round_ms[k]); }
            ratio_same.push_back(round_ms[0] / round_ms[1]);
            ratio_read.push_back(round_ms[0] / round_ms[2]);
        }
        ::DestroyWindow(owner);
    });
    worker.join();

    for (int k = 0; k < kFillKinds; ++k) {
        const Spread s = SpreadOf(ms[k]);
        std::printf("  %-46s %10.1f ms   (p10 %.1f, p90 %.1f)\n", FillTitle(kFills[k]), s.median, s.p10, s.p90);
    }
    const Spread same = SpreadOf(ratio_same);
    const Spread read = SpreadOf(ratio_read);
    std::printf("  ratio configure / direct fill, same calls:        %.3f (median of %d rounds, p10 %.3f, p90 %.3f)"
                "   target <= 1.10: %s\n",
                same.median, rounds, same.p10, same.p90, Verdict(same.median, 1.10));
    std::printf("  ratio configure / the same after a pass of the view: %.3f (p10 %.3f, p90 %.3f)\n", read.median,
                read.p10, read.p90);
    const double empty = SpreadOf(ms[4]).median;
    std::printf("  the fill alone (minus the empty dialog): configure %.1f ms, direct %.1f ms, direct after the pass"
                " %.1f ms\n",
                SpreadOf(ms[0]).median - empty, SpreadOf(ms[1]).median - empty, SpreadOf(ms[2]).median - empty);
    std::printf("         %d rounds, each running the five kinds once in rotating order, after one warm-up round\n",
                rounds);
    return errors;
}

// ---- busy -------------------------------------------------------------------------------------

// The least that a read waiting on a busy record does: open and map the section, spin on the
// record's busy word, copy the value once the word is clear, unmap, close. No text.
void FloorBusyRead(std::size_t index) {
    const unique_handle section(::OpenFileMappingA(FILE_MAP_READ, FALSE, kSensorTableName));
    unique_view view(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
    const auto* record =
        reinterpret_cast<const SensorRecord*>(static_cast<const unsigned char*>(view.get()) + SensorRecordOffset(index));
    while (LoadBusyWord(record) == kRecordBusy) {}
    const auto* value = reinterpret_cast<const volatile std::uint64_t*>(&record->value);
    g_sink = g_sink + value[0] + value[1];
}

// Processor time (user and kernel) that the calling thread has used so far, in milliseconds.
double ThreadProcessorMs() {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) { return 0; }
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// A reader thread that reads sensor 1 whenever it is told to, through ValueBySensor or as the
// floor does, and notes when the read began and returned and the processor time it used.
class BusyReader {
public:
    BusyReader(const LoadedPlugin& plugin, DWORD_PTR cpu_mask)
        : plugin_(plugin), go_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          done_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        thread_ = std::thread([this, cpu_mask] {
            if (cpu_mask != 0) { ::SetThreadAffinityMask(::GetCurrentThread(), cpu_mask); }
            const host::PluginInstance instance(plugin_.api(), nullptr);
            for (;;) {
                ::WaitForSingleObject(go_.get(), INFINITE);
                if (stop_) { return; }
                const double cpu_before = ThreadProcessorMs();
                called_at_ = Clock::now();
                if (floor_) {
                    FloorBusyRead(0);
                    returned_at_ = Clock::now();
                    answer_.clear();
                } else {
                    const char* answer = plugin_.by_number()(instance.handle(), "1");
                    returned_at_ = Clock::now();
                    answer_ = host::TextOrNull(answer);
                }
                processor_ms_ = ThreadProcessorMs() - cpu_before;
                returned_.store(true, std::memory_order_release);
                ::SetEvent(done_.get());
            }
        });
    }
    ~BusyReader() {
        stop_ = true;
        ::SetEvent(go_.get());
        thread_.join();
    }

    // Starts one read: the floor's when `floor`, else ValueBySensor("1").
    void start(bool floor) {
        floor_ = floor;
        returned_ = false;
        ::SetEvent(go_.get());
    }
    // Waits for the read to return. It first spins on a flag for up to `spin_ms`: while the
    // timed read releases the table, this thread must not queue requests of its own at the
    // wineserver ahead of the reader's.
    bool wait(DWORD timeout_ms, DWORD spin_ms = 0) {
        const auto spin_end = Clock::now() + std::chrono::milliseconds(spin_ms);
        while (!returned_.load(std::memory_order_acquire) && Clock::now() < spin_end) {}
        return ::WaitForSingleObject(done_.get(), timeout_ms) == WAIT_OBJECT_0;
    }
    Clock::time_point called_at() const { return called_at_; }
    Clock::time_point returned_at() const { return returned_at_; }
    const std::string& answer() const { return answer_; }
    // Processor time that the reading thread used during the read.
    double processor_ms() const { return processor_ms_; }

private:
    const LoadedPlugin& plugin_;
    unique_handle go_;
    unique_handle done_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> returned_{false};
    bool floor_ = false;  // set before the event that starts a read, read after it
    Clock::time_point called_at_;
    Clock::time_point returned_at_;
    double processor_ms_ = 0;
    std::string answer_;
    std::thread thread_;
};

int RunBusy(const LoadedPlugin& plugin, int runs) {
    int errors = 0;
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    ::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask);
    DWORD_PTR reader_cpu = 0;
    DWORD_PTR writer_cpu = 0;
    for (DWORD_PTR bit = 1; bit != 0; bit <<= 1) {
        if ((process_mask & bit) == 0) { continue; }
        if (reader_cpu == 0) {
            reader_cpu = bit;
        } else if (writer_cpu == 0) {
            writer_cpu = bit;
        }
    }
    std::printf("\nA read waiting on a busy record (sensor 1 of 4)\n");
    if (writer_cpu == 0) {
        std::printf("  SKIPPED: needs two CPUs (the reader spins on one, the writer clears the word on another)\n");
        return 0;
    }
    std::printf("  reader thread on CPU mask 0x%llx, writer thread on CPU mask 0x%llx\n",
                static_cast<unsigned long long>(reader_cpu), static_cast<unsigned long long>(writer_cpu));
    const DWORD_PTR old_mask = ::SetThreadAffinityMask(::GetCurrentThread(), writer_cpu);

    const auto table = NamedTable(4);
    SensorRecord& record = table->record(0);
    auto busy = [&](LONG word) { ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&record.busy), word); };

    {
        // The writer sets the word, lets the reader start and spin, stores a new value, notes the
        // time and clears the word. Plug-in reads and floor reads take turns.
        BusyReader reader(plugin, reader_cpu);
        std::vector<double> reaction[2];  // [0] ValueBySensor, [1] the floor
        std::vector<double> waited;
        int not_waiting = 0;
        for (int r = -4; r < 2 * runs; ++r) {  // four warm-up runs
            const bool floor = (r & 1) != 0;
            busy(kRecordBusy);
            reader.start(floor);
            // By now the reader has mapped the table and spins on the word. The writer waits
            // without calling the wineserver, which the reader needs right after the clear.
            for (const auto until = Clock::now() + std::chrono::microseconds(g_hold_us); Clock::now() < until;) {}
            const VARIANT value = MakeR8(r + 0.5);
            std::memcpy(&record.value, StoreVariant(value).bytes, sizeof record.value);
            const auto cleared_at = Clock::now();
            busy(kRecordIdle);
            if (!reader.wait(5000, 100)) {
                std::printf("  ERROR: the read did not return within 5 s of the word being cleared\n");
                return errors + 1;
            }
            if (!floor && reader.answer() != PlatformText(value)) {
                std::printf("  ERROR: the read answered \"%s\", expected \"%s\"\n", reader.answer().c_str(),
                            PlatformText(value).c_str());
                ++errors;
            }
            if (reader.called_at() >= cleared_at) {
                ++not_waiting;  // the reader was late: this run tells nothing about the wait
                continue;
            }
            if (r < 0) { continue; }
            reaction[floor ? 1 : 0].push_back(Micros(cleared_at, reader.returned_at()));
            waited.push_back(Micros(reader.called_at(), cleared_at) / 1000.0);
        }
        const Spread m = SpreadOf(reaction[0]);
        const Spread f = SpreadOf(reaction[1]);
        std::printf("  from the word cleared to ValueBySensor returned: %7.1f us  (median of %zu; p10 %.1f, p90 %.1f,"
                    " max %.1f)   target < 100 us: %s\n",
                    m.median, reaction[0].size(), m.p10, m.p90, Percentile(reaction[0], 1.0),
                    m.median < 100.0 ? "met" : "MISSED");
        std::printf("  floor: to the same after spin, copy, unmap, close:  %7.1f us  (median of %zu; p10 %.1f, p90 %.1f)"
                    "   ratio %.2f\n",
                    f.median, reaction[1].size(), f.p10, f.p90, m.median / f.median);
        std::printf("         (each read had been spinning for %.1f ms when the word was cleared%s)\n",
                    SpreadOf(waited).median,
                    not_waiting != 0 ? (", " + std::to_string(not_waiting) + " late runs left out").c_str() : "");
    }

    {
        // Context: what releasing the view and handle costs on the reader's CPU.
        std::vector<double> release;
        std::thread([&] {
            ::SetThreadAffinityMask(::GetCurrentThread(), reader_cpu);
            for (int i = 0; i < 201; ++i) {
                unique_handle section(::OpenFileMappingA(FILE_MAP_READ, FALSE, kSensorTableName));
                unique_view view(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
                g_sink = g_sink + *static_cast<const volatile unsigned char*>(view.get());
                const auto start = Clock::now();
                view.reset();
                section.reset();
                release.push_back(Micros(start, Clock::now()));
            }
        }).join();
        std::printf("         (UnmapViewOfFile + CloseHandle alone, on the reader's CPU: %.1f us)\n",
                    SpreadOf(release).median);
    }

    {
        BusyReader reader(plugin, reader_cpu);
        std::vector<double> bound;
        double waited_ms = 0;
        double processor_ms = 0;
        busy(kRecordBusy);
        for (int r = 0; r < 5; ++r) {
            reader.start(false);
            if (!reader.wait(10000)) {
                std::printf("  ERROR: a read of a record that stays busy did not return within 10 s\n");
                busy(kRecordIdle);
                return errors + 1;
            }
            if (!ExpectAnswer("a read of a record that stays busy", reader.answer().c_str(),
                              "Can not read shared data")) {
                ++errors;
            }
            bound.push_back(Micros(reader.called_at(), reader.returned_at()) / 1000.0);
            waited_ms += bound.back();
            processor_ms += reader.processor_ms();
        }
        busy(kRecordIdle);
        const Spread s = SpreadOf(bound);
        std::printf("  a word that is never cleared: the read gives up after %.1f ms (median of %zu; min %.1f, max"
                    " %.1f) with \"Can not read shared data\"\n",
                    s.median, bound.size(), Percentile(bound, 0), Percentile(bound, 1.0));
        // The thread's processor time comes in the system's clock ticks (10 ms under Wine on
        // Linux): summed over the reads, that is a fraction of a percent.
        const double share = 100.0 * processor_ms / waited_ms;
        std::printf("    while it waits, the reading thread uses %.1f %% of a processor (%.0f ms of processor time"
                    " in %.0f ms of %zu reads, GetThreadTimes)   target <= 5 %%: %s\n",
                    share, processor_ms, waited_ms, bound.size(), share <= 5.0 ? "met" : "MISSED");
    }
    ::SetThreadAffinityMask(::GetCurrentThread(), old_mask);
    return errors;
}

}  // namespace
}  // namespace vorkast::bench

int main(int argc, char** argv) {
    using namespace vorkast::bench;
    bool reads = false;
    bool dialog = false;
    bool busy = false;
    int blocks = 51;
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "reads") {
            reads = true;
        } else if (arg == "dialog") {
            dialog = true;
        } else if (arg == "busy") {
            busy = true;
        } else if (arg.rfind("blocks=", 0) == 0) {
            blocks = std::max(3, std::atoi(arg.c_str() + 7)) | 1;
        } else if (arg.rfind("hold=", 0) == 0) {
            g_hold_us = std::max(500, std::atoi(arg.c_str() + 5));
        } else if (arg.rfind("rounds=", 0) == 0) {
            rounds = std::max(1, std::atoi(arg.c_str() + 7));
        } else {
            std::fprintf(stderr, "usage: vorkast-bench [reads] [dialog] [busy] [blocks=N] [rounds=N] [hold=US]\n");
            return 2;
        }
    }
    if (!reads && !dialog && !busy) { reads = dialog = busy = true; }
    try {
        PrintMachine();
        const LoadedPlugin plugin;
        int errors = 0;
        if (reads) { errors += RunReads(plugin, blocks); }
        if (dialog) { errors += RunDialog(plugin, rounds); }
        if (busy) { errors += RunBusy(plugin, 51); }
        std::fflush(stdout);
        return errors == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::printf("vorkast-bench: %s\n", e.what());
        return 1;
    }
}
