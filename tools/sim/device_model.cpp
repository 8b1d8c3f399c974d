#include "device_model.hpp"

#include "demo_device.hpp"

namespace sim {

DeviceModel::DeviceModel(const UnitSet& served, const std::string& revision, bool demo) : served_(served) {
    for (std::size_t address = 0; address < units_.size(); ++address) {
        if (!served.test(address)) continue;
        units_[address] = std::make_unique<UnitModel>();
        if (demo) {
            loadDemoDevice(*units_[address], revision);
        } else {
            loadIdentification(*units_[address], revision);
        }
    }
}

UnitModel* DeviceModel::unit(int address) {
    if (address < 0 || address >= static_cast<int>(units_.size())) return nullptr;
    return units_[static_cast<std::size_t>(address)].get();
}

}  // namespace sim
