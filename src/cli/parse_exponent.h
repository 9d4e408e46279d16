// The one reading of a header value k from the command line, shared by rle-golomb-compress and
// rlegolomb (header-only: rlegolomb links none of the fixed programs' libraries).
#pragma once

// Reads a header value k: one or more decimal digits, nothing else (no sign, no blank, no
// exponent), with a value from 0 to 255. Returns -1 for anything else.
inline int ParseExponent(const char* text) {
  if (*text == '\0') {
    return -1;
  }
  int value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') {
      return -1;
    }
    value = value * 10 + (*c - '0');
    if (value > 255) {
      return -1;
    }
  }
  return value;
}
