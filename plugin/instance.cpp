#include "plugin/instance.h"

#include <memory>

namespace vorkast {

InstanceString* NewInstance() noexcept {
    try {
        auto instance = std::make_unique<InstanceString>(kInitialInstanceText);
        // Room for every fixed message, so that writing one never needs memory.
        instance->reserve(kReservedInstanceText);
        return instance.release();
    } catch (...) {
        return nullptr;
    }
}

void DeleteInstance(InstanceString* instance) noexcept { delete instance; }

}  // namespace vorkast
