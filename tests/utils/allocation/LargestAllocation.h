#pragma once

#include <cstddef>

namespace allocation_probe {

// While alive, remembers the largest single request made through operator new.
class LargestAllocation {
public:
    LargestAllocation();
    ~LargestAllocation();
    LargestAllocation(const LargestAllocation&) = delete;
    LargestAllocation& operator=(const LargestAllocation&) = delete;

    [[nodiscard]] std::size_t bytes() const;
};

}  // namespace allocation_probe
