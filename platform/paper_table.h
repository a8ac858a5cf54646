#pragma once
// The platform's paper codes: each code's name and portrait sheet size, the one table behind the
// report engine's paper names and the spooler's numbering of papers by size.
#include <cstdint>
#include <span>

namespace parvel::platform {

enum class PaperUnit { kInches, kTenthsMm };

struct PaperCode {
  uint16_t number;
  const char* name;  // as drivers have always spelt it, irregular spacing and all
  float width;       // portrait terms, in `unit`; 0 by 0 for a code without a sheet
  float height;
  PaperUnit unit;
  bool transverse;  // a sheet of a lower code, fed turned
};

// Every code, in ascending order.
std::span<const PaperCode> PaperCodes();

// The entry of `number`; nullptr for a code the table does not hold.
const PaperCode* FindPaperCode(int number);

}  // namespace parvel::platform
