// A table of 65536 values addressed by the Modbus wire address (0..65535).
// Pages of 256 values are allocated on the first write, so a unit that
// offers the whole address space costs memory only for what holds data;
// reading a page never written gives zeros.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace sim {

template <typename Value>
class SparseTable {
public:
    static constexpr int kSize = 65536;

    Value get(std::uint16_t address) const {
        const auto& page = pages_[address >> 8];
        return page ? (*page)[address & 0xFF] : Value{};
    }

    void set(std::uint16_t address, Value value) {
        auto& page = pages_[address >> 8];
        if (!page) {
            if (value == Value{}) return;
            page = std::make_unique<Page>();
            page->fill(Value{});
        }
        (*page)[address & 0xFF] = value;
    }

private:
    using Page = std::array<Value, 256>;
    std::array<std::unique_ptr<Page>, 256> pages_;
};

}  // namespace sim
