// The in-memory sort's partition scheme written out plainly on two lists
// of strings, recursing into the left part: the reference for the order of
// records with equal keys. (std::string compares bytes as unsigned, as
// keys do.)
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

inline void ModelQuickSort(std::vector<std::string>& records, std::vector<std::string>& keys,
                           long l, long r) {
  while (l < r) {
    long i = l, j = r;
    const std::string p = keys[static_cast<size_t>((l + r) / 2)];
    do {
      while (keys[static_cast<size_t>(i)] < p) ++i;
      while (keys[static_cast<size_t>(j)] > p) --j;
      if (i <= j) {
        std::swap(keys[static_cast<size_t>(i)], keys[static_cast<size_t>(j)]);
        std::swap(records[static_cast<size_t>(i)], records[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) ModelQuickSort(records, keys, l, j);
    l = i;
  }
}

}  // namespace testing_support
