// The sensor set vorkast-publish serves when no file is given: temperatures, fan speeds,
// voltages, a load percentage, a Boolean and dates, as a sensor file of the first form.
#pragma once

namespace vorkast::tools {

extern const char kDefaultSensorFile[];

}  // namespace vorkast::tools
