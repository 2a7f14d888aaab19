#pragma once

// The benches' figures: a percentile of what they measured.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace hushwell::bench {

// The `p`th percentile of `values` (the nearest rank); 0 when there are none.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index =
        static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

}  // namespace hushwell::bench
