#pragma once
// The platform's paper-size codes by sheet size, so a spooler without codes of its own can
// number its papers as a driver would.
#include <cstdint>

namespace parvel::platform::linux_os {

// The first paper code whose portrait size lies within 1 mm of the given one (tenths of a
// millimetre, portrait terms); 0 when none does.
uint16_t PaperNumberForSize(int32_t width_tenths, int32_t height_tenths);

// Paper bins by the spooler's source keyword ("auto", "tray-1"); 0 for a keyword with no code.
uint16_t BinNumberForKeyword(const char* keyword);

}  // namespace parvel::platform::linux_os
