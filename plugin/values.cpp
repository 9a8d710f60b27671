// The value functions. (Placeholder until the reader lands.)
#include "plugin/exports.h"

#include "plugin/instance.h"

const char* WINAPI ValueBySensor(VorkastInstance instance, const char*) noexcept {
    return static_cast<vorkast::InstanceString*>(instance)->c_str();
}

const char* WINAPI ValueByName(VorkastInstance instance, const char*) noexcept {
    return static_cast<vorkast::InstanceString*>(instance)->c_str();
}
