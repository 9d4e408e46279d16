// The decoder's table: streams built field by field, each with the bytes it must expand to.
#pragma once

#include <vector>

#include "test_support.h"

struct StreamCase {
  const char* name;
  Bytes stream;
  Bytes expected;
};

// The hand-built streams and the worked examples of docs/FORMAT.md, every one a case of the
// format's rules: each k class, zero-length and negative runs, the wrapping quotient, and every
// way a stream can end.
const std::vector<StreamCase>& StreamTable();
