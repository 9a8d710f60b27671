// configure: the modal "Sensors" dialog, owned by the window of the latest dllstartup.
#include "plugin/exports.h"

#include "dialog/sensors_dialog.h"
#include "plugin/module_state.h"

// Returns 0 once the dialog has closed, and 0 as well when it could not be created: the host
// has nothing to do either way. The dialog procedure never throws.
int WINAPI configure() noexcept {
    vorkast::ShowSensorsDialog(vorkast::ModuleInstance(), vorkast::HostWindow());
    return 0;
}
