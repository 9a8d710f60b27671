#include "plugin/instance.h"

#include <new>

namespace vorkast {

InstanceString* NewInstance() noexcept {
    try {
        return new InstanceString(kInitialInstanceText);
    } catch (...) {
        return nullptr;
    }
}

void DeleteInstance(InstanceString* instance) noexcept { delete instance; }

}  // namespace vorkast
