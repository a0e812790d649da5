// FNV-1a over 32-bit values, for hashing node and ring lists.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavet {

template <class It>
std::size_t fnvHash(It first, It last)
{
    uint64_t h = 1469598103934665603ull;
    for (; first != last; ++first)
        h = (h ^ static_cast<uint32_t>(*first)) * 1099511628211ull;
    return static_cast<std::size_t>(h);
}

} // namespace kavet
