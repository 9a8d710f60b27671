// configure: the "Sensors" dialog. (Placeholder until the dialog lands.)
#include "plugin/exports.h"

int WINAPI configure() noexcept { return 0; }
