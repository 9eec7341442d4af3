#include "runtime/interpreter/registers.h"

#include <ctime>

namespace interp {

int32_t localTime1980() {
  std::tm tm{};
  tm.tm_year = 80;
  tm.tm_mon = 0;
  tm.tm_mday = 1;
  tm.tm_isdst = -1;
  return static_cast<int32_t>(std::mktime(&tm));
}

void Registers::reset() {
  I.fill(0);
  F.fill(0.0);
  T.fill(localTime1980());
  for (auto& s : S)
    s.clear();
}

}  // namespace interp
