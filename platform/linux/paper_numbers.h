#pragma once
// The platform's paper-size codes by sheet size, so a spooler without codes of its own can
// number its papers as a driver would.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace parvel::platform::linux_os {

// The first paper code whose portrait size lies within 1 mm of the given one (tenths of a
// millimetre, portrait terms); 0 when none does.
uint16_t PaperNumberForSize(int32_t width_tenths, int32_t height_tenths);

// Paper bins by the spooler's source keyword ("auto", "tray-1"); 0 for a keyword with no code.
uint16_t BinNumberForKeyword(const char* keyword);

// A number for a paper or bin the platform's table has no code for, made from what names it, so
// that the same paper has the same number on every printer and in every run: 257 to 32767.
uint16_t DerivedNumber(std::string_view identity);

// What names one paper of a printer.
struct PaperIdentity {
  int32_t width_tenths = 0;  // portrait terms
  int32_t height_tenths = 0;
  std::string size_name;  // the PWG name of the size ("iso_a4_210x297mm")
  std::string variant;    // "" for the plain paper, else what sets it apart ("borderless")
  std::string key;        // the spooler's own name of it
};

// Numbers a printer's papers: the plain paper of a size the platform's table knows takes the
// table's code (where a printer lists that size twice, the shorter key, then the first in
// alphabetical order); every other paper takes the number derived from its size name and
// variant, the next free one where two papers of one printer would share it. Nothing depends on
// the papers' places in the list.
std::vector<uint16_t> NumberPapers(const std::vector<PaperIdentity>& papers);

// Numbers a printer's bins by their source keywords: the table's code, else a derived number.
std::vector<uint16_t> NumberBins(const std::vector<std::string>& keywords);

}  // namespace parvel::platform::linux_os
