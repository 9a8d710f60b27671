// A plug-in of the host's interface that is not the product, for the stand-in host's tests:
// its init lists a function that it does not export, some of its texts are null, one value
// function faults and one answers null, and Echo tells which instance and which call answered.
#include <windows.h>

#include <cstdio>

namespace {

struct Instance {
    int serial;
    int calls;
    char text[512];
};

int g_instances = 0;
volatile ULONG_PTR g_nowhere = 0;

}  // namespace

extern "C" {

int WINAPI dlltype() { return 1; }

const char* WINAPI init() { return "Echo|NotExported|Crash|NullAnswer"; }

const char* WINAPI getparam(const char* name) {
    return ::lstrcmpiA(name, "Echo") == 0 ? "anything|" : nullptr;
}

const char* WINAPI getinfo(DWORD number) {
    switch (number) {
        case 0: return "Fake plug-in for the host's tests";
        case 1: return nullptr;
        default: return "";
    }
}

void* WINAPI dllstartup(HWND, DWORD) { return new Instance{++g_instances, 0, {}}; }

int WINAPI dllshutdown(void* instance) {
    delete static_cast<Instance*>(instance);
    return 0;
}

const char* WINAPI Echo(void* handle, const char* parameter) {
    auto* instance = static_cast<Instance*>(handle);
    ++instance->calls;
    std::snprintf(instance->text, sizeof instance->text, "instance %d call %d: %s", instance->serial,
                  instance->calls, parameter);
    return instance->text;
}

const char* WINAPI Crash(void*, const char*) {
    *reinterpret_cast<volatile int*>(g_nowhere) = 1;
    return "";
}

const char* WINAPI NullAnswer(void*, const char*) { return nullptr; }

}  // extern "C"
