// The simulated device: one UnitModel per served slave address.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "unit_model.hpp"
#include "unit_set.hpp"

namespace sim {

class DeviceModel {
public:
    // Every served unit starts with the identification objects 0..2 and the
    // report-slave-id text; with demo set, with the whole demo device.
    DeviceModel(const UnitSet& served, const std::string& revision, bool demo);

    // The unit's data; null for an address that is not served.
    UnitModel* unit(int address);
    const UnitSet& served() const { return served_; }

private:
    UnitSet served_;
    std::array<std::unique_ptr<UnitModel>, 256> units_;
};

}  // namespace sim
