#include "tools/publish/default_sensors.h"

namespace vorkast::tools {

const char kDefaultSensorFile[] = R"(# The built-in sensor set of vorkast-publish.
# name                | type | value or generator
CPU Package           | r8   | sine 45 78 30
CPU Core 1            | r8   | sine 42 74 20
GPU Temperature       | r8   | ramp 38 64 45
Motherboard           | r8   | 36.5
CPU Fan               | i4   | sine 900 1800 25
Case Fan 1            | i4   | random 700 760
Vcore                 | r8   | sine 1.05 1.32 12
+12V                  | r8   | random 11.95 12.08
+3.3V                 | r8   | 3.312
CPU Load              | r4   | random 3 97      # percent
Fan Failure           | bool | false
Boot Time             | date | 2024-05-06 07:45:12
Sensor Time           | date | now
)";

}  // namespace vorkast::tools
