// Lasting out-of-memory: from some moment on, every allocation the plug-in asks for through its
// import table fails and keeps failing (the runtime linked into the plug-in allocates through
// the same imports). Every export still answers: the value functions with a fixed message,
// dllstartup with null, the others as always. Nothing is left behind, and once memory returns
// the same instance answers normally again.
//
// Each call runs on a thread of its own that has never called the plug-in, so that whatever the
// runtime sets up on a thread's first exception happens while memory is gone.
#include "sensors/table_writer.h"
#include "tests/support/case_name.h"
#include "tests/support/memory_gone.h"
#include "tests/support/messages.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/process_resources.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace vorkast::test {
namespace {

// A thread that has never called the plug-in, started at once and waiting for the one call it
// makes; it ends only when the object does. Its start-up and its end lie outside the resource
// figures taken meanwhile, and waiting for it allocates nothing.
class FreshThread {
public:
    FreshThread()
        : go_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          done_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          thread_(::CreateThread(nullptr, 0, &FreshThread::Serve, this, 0, nullptr)) {
        ::WaitForSingleObject(done_, INFINITE);
    }
    ~FreshThread() {
        call_ = nullptr;
        ::SetEvent(go_);
        ::WaitForSingleObject(thread_, INFINITE);
        for (HANDLE h : {thread_, done_, go_}) { ::CloseHandle(h); }
    }
    FreshThread(const FreshThread&) = delete;
    FreshThread& operator=(const FreshThread&) = delete;

    // Runs `call` on the thread and waits for its answer (at most 255 characters kept, in the
    // object: taking it allocates nothing).
    const char* Run(const std::function<std::string()>& call) {
        call_ = &call;
        ::SetEvent(go_);
        ::WaitForSingleObject(done_, INFINITE);
        return answer_;
    }

private:
    static DWORD WINAPI Serve(void* parameter) {
        auto* self = static_cast<FreshThread*>(parameter);
        // The thread's runtime data and the heap's per-thread state exist before anything is
        // measured.
        errno = 0;
        for (std::size_t size = 1; size <= 512; ++size) { std::free(std::malloc(size)); }
        ::SetEvent(self->done_);
        ::WaitForSingleObject(self->go_, INFINITE);
        if (self->call_ != nullptr) {
            (*self->call_)().copy(self->answer_, sizeof self->answer_ - 1);
            ::SetEvent(self->done_);
            ::WaitForSingleObject(self->go_, INFINITE);
        }
        return 0;
    }

    HANDLE go_;
    HANDLE done_;
    const std::function<std::string()>* call_ = nullptr;
    char answer_[256] = {};
    HANDLE thread_;
};

struct Resources {
    std::size_t heap = HeapBusyBytes();
    std::size_t handles = OpenHandleCount();
    std::size_t views = MappedViewCount();
};

// A call made twice while memory is gone, each time on a new thread, and what the process held
// before and after (the threads' own start-up and end lie outside).
struct GoneRound {
    bool patched = false;
    char answers[2][256] = {};
    Resources before;
    Resources after;
};

GoneRound CallTwiceWhileGone(Gone gone, const std::function<std::string()>& call) {
    GoneRound r;
    FreshThread first;
    FreshThread second;
    r.before = Resources();
    {
        const MemoryGone memory_gone(Plugin().module(), gone);
        r.patched = memory_gone.active();
        if (r.patched) {
            std::strcpy(r.answers[0], first.Run(call));
            std::strcpy(r.answers[1], second.Run(call));
        }
    }
    r.after = Resources();
    return r;
}

enum class Table { none, published };

// Sensor "A", the integer 5, and "D", a date.
std::unique_ptr<SensorTableWriter> Publish(Table kind) {
    if (kind == Table::none) { return nullptr; }
    auto table = std::make_unique<SensorTableWriter>(2);
    table->set_name(0, L"A");
    table->set_value(0, MakeI4(5));
    VARIANT date;
    ::VariantInit(&date);
    date.vt = VT_DATE;
    date.date = 45000.5;
    table->set_name(1, L"D");
    table->set_value(1, date);
    table->set_count(2);
    return table;
}

// One export called with an existing instance (made while memory was there).
using Call = std::string (*)(void* instance);

std::string Text(const char* text) { return host::TextOrNull(text); }
std::string ByNumber(void* instance, const char* parameter) {
    return Text(Interface().value_function("ValueBySensor")(instance, parameter));
}
std::string ByName(void* instance, const char* parameter) {
    return Text(Interface().value_function("ValueByName")(instance, parameter));
}

struct GoneCase {
    const char* what;
    Table table;
    Call call;
    const char* answer;          // while memory is gone
    const char* answer_after;    // the same call once memory is back (null: not asked)
    const char* answer_strings = nullptr;  // while only strings fail, where that differs
};

const GoneCase kGoneCases[] = {
    {"dlltype", Table::none, [](void*) { return std::to_string(Interface().dlltype()); }, "1", nullptr},
    {"init", Table::none, [](void*) { return Text(Interface().init()); }, "ValueBySensor|ValueByName", nullptr},
    {"getparam", Table::none, [](void*) { return Text(Interface().getparam("valuebyname")); }, "sensor name|", nullptr},
    {"getinfo", Table::none, [](void*) { return Text(Interface().getinfo(2)); }, "1.0a", nullptr},
    {"dllstartup", Table::none,
     [](void*) {
         void* instance = Interface().dllstartup(nullptr, 0);
         if (instance == nullptr) { return std::string("null"); }
         Interface().dllshutdown(instance);
         return std::string("an instance");
     },
     "null", nullptr, "an instance"},
    {"ValueBySensor of an integer", Table::published, [](void* i) { return ByNumber(i, "1"); }, kByNumberFailure, "5"},
    {"ValueBySensor of a date", Table::published, [](void* i) { return ByNumber(i, "2"); }, kByNumberFailure, nullptr},
    {"ValueBySensor without a table", Table::none, [](void* i) { return ByNumber(i, "1"); }, kByNumberFailure, kNotRunning},
    {"ValueBySensor beyond the count", Table::published, [](void* i) { return ByNumber(i, "3"); }, kByNumberFailure, kInvalidNumber},
    {"ValueBySensor of number 0", Table::published, [](void* i) { return ByNumber(i, "0"); }, kInvalidNumber, kInvalidNumber},
    {"ValueByName found", Table::published, [](void* i) { return ByName(i, "A"); }, kByNameFailure, "5"},
    {"ValueByName not found", Table::published, [](void* i) { return ByName(i, "Z"); }, kInvalidNumber, kInvalidNumber},
    {"ValueByName without a table", Table::none, [](void* i) { return ByName(i, "A"); }, kInvalidNumber, kInvalidNumber},
};

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.what; }

class MemoryStaysGone : public ::testing::TestWithParam<std::tuple<GoneCase, Gone>> {};

TEST_P(MemoryStaysGone, EveryExportAnswersAndNothingIsLeftBehind) {
    const auto& [c, gone] = GetParam();
    const char* const expected = gone == Gone::strings && c.answer_strings != nullptr ? c.answer_strings : c.answer;
    const auto table = Publish(c.table);
    void* const instance = Interface().dllstartup(nullptr, 0);
    ASSERT_NE(instance, nullptr);
    const std::function<std::string()> call = [&] { return c.call(instance); };
    call();  // the platform's caches, while memory is there
    // Two rounds; the first takes what the process takes once (the unwinder's sorted frame
    // tables on the first exception that finds memory, the first threads and patches of the
    // test itself), the second must leave nothing behind.
    for (int round = 1; round <= 2; ++round) {
        const GoneRound r = CallTwiceWhileGone(gone, call);
        ASSERT_TRUE(r.patched) << "the plug-in's import of the first " << ToText(gone) << " function was not found";
        for (const char* answer : r.answers) { EXPECT_STREQ(answer, expected) << c.what << ", memory gone"; }
        if (round == 2) {
            EXPECT_EQ(r.after.heap, r.before.heap) << "heap bytes in use";
            EXPECT_EQ(r.after.handles, r.before.handles) << "open handles";
            EXPECT_EQ(r.after.views, r.before.views) << "mapped views";
        }
    }
    if (c.answer_after != nullptr) {
        FreshThread later;
        EXPECT_STREQ(later.Run(call), c.answer_after) << c.what << ", memory back";
    }
    EXPECT_EQ(Interface().dllshutdown(instance), 0);
}

INSTANTIATE_TEST_SUITE_P(Exports, MemoryStaysGone,
                         ::testing::Combine(::testing::ValuesIn(kGoneCases), ::testing::Values(Gone::heap, Gone::strings)),
                         [](const auto& info) {
                             return CaseName(std::get<0>(info.param).what) + "_" + ToText(std::get<1>(info.param));
                         });

// dllshutdown needs no memory: an instance made before memory went is freed whole.
TEST(MemoryStaysGone, ShutdownFreesTheInstance) {
    for (const Gone gone : {Gone::heap, Gone::strings}) {
        Interface().dllshutdown(Interface().dllstartup(nullptr, 0));  // one-time costs
        const Resources before;
        void* const instance = Interface().dllstartup(nullptr, 0);
        int result = -1;
        {
            const MemoryGone memory_gone(Plugin().module(), gone);
            result = Interface().dllshutdown(instance);
        }
        const Resources after;
        EXPECT_NE(instance, nullptr);
        EXPECT_EQ(result, 0) << ToText(gone);
        EXPECT_EQ(after.heap, before.heap) << ToText(gone) << ": heap bytes in use";
    }
}

}  // namespace
}  // namespace vorkast::test
