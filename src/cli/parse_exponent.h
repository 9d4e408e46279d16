// The one reading of a whole number from the command line (a header value k, a thread count),
// shared by rle-golomb-compress and rlegolomb (header-only: rlegolomb links none of the fixed
// programs' libraries).
#pragma once

// Reads a whole number from 0 to `most`: one or more decimal digits, nothing else (no sign, no
// blank, no exponent). Returns -1 for anything else.
inline int ParseDecimalUpTo(const char* text, int most) {
  if (*text == '\0') {
    return -1;
  }
  int value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') {
      return -1;
    }
    value = value * 10 + (*c - '0');
    if (value > most) {
      return -1;
    }
  }
  return value;
}

// Reads a header value k, 0 to 255, as ParseDecimalUpTo reads it. Returns -1 for anything else.
inline int ParseExponent(const char* text) {
  return ParseDecimalUpTo(text, 255);
}
