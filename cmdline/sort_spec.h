// One part of the sort key and the ordered list of them, in command-line
// order; the first part is the most significant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TSortFieldSpec {
  std::string KeyPart;         // scratch of key extraction; no option value
  std::int32_t CsvField = -1;  // I of SV/CV/NV, 1-based; -1 for column keys
  std::int32_t FromPos = 0;    // F, 1-based
  std::int32_t Len = 0;        // L; 0 = to the end / automatic width
  bool Ascending = true;
  bool Numeric = false;          // N, NV
  bool CaseInsensitive = false;  // C, CV
  bool AutoWidth = false;        // CSV key with L = 0, set by the sort job
};

using TSortSpecs = std::vector<TSortFieldSpec>;
