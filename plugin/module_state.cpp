#include "plugin/module_state.h"

namespace vorkast {
namespace {
HINSTANCE g_module = nullptr;
HWND g_host_window = nullptr;
}  // namespace

HINSTANCE ModuleInstance() noexcept { return g_module; }
void SetModuleInstance(HINSTANCE module) noexcept { g_module = module; }
HWND HostWindow() noexcept { return g_host_window; }
void SetHostWindow(HWND window) noexcept { g_host_window = window; }

}  // namespace vorkast
