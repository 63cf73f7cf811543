#pragma once
// Sizes shared by the large-buffer tests.
#include <cstddef>

namespace tarnwick::testing {

constexpr size_t kPage = 4096;
constexpr size_t kHugePage = size_t{2} << 20;

// Sizes on both sides of the page and huge-page boundaries.
constexpr size_t kSizes[] = {
    1, kPage - 1, kPage, kPage + 1, kHugePage - 1, kHugePage, kHugePage + 1, 5 * kHugePage + 123};

}  // namespace tarnwick::testing
