/* Guards the public header as C code sees it: it compiles as C99 without warnings, and a status is
 * any int there, so the tests can hand status_text values outside the enum. */
#include "rlegolomb.h"

const char* rleg_c_status_text(int value);

const char* rleg_c_status_text(int value) {
  return rlegolomb_status_text((rlegolomb_status)value);
}
