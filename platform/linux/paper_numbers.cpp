#include "platform/linux/paper_numbers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <set>
#include <string>
#include <tuple>

#include "platform/paper_table.h"

namespace parvel::platform::linux_os {
namespace {

// A sheet's portrait size in millimetres, unrounded.
double Millimetres(float size, PaperUnit unit) {
  return unit == PaperUnit::kInches ? static_cast<double>(size) * 25.4 : static_cast<double>(size) / 10.0;
}

bool Near(double a_mm, int32_t b_tenths) { return std::abs(a_mm * 10.0 - b_tenths) <= 10.0; }

}  // namespace

uint16_t PaperNumberForSize(int32_t width_tenths, int32_t height_tenths) {
  // Codes ascend, so the first match is the plain paper (Letter, not Note); a turned sheet is
  // never the code of a size, and codes without a sheet match nothing.
  for (const PaperCode& p : PaperCodes()) {
    if (p.transverse || p.width == 0) continue;
    if (Near(Millimetres(p.width, p.unit), width_tenths) &&
        Near(Millimetres(p.height, p.unit), height_tenths)) {
      return p.number;
    }
  }
  return 0;
}

uint16_t BinNumberForKeyword(const char* keyword) {
  struct Bin {
    const char* keyword;
    uint16_t number;
  };
  static constexpr Bin kBins[] = {
      {"auto", 7},   {"manual", 4},   {"tray-1", 1},          {"top", 1},
      {"main", 1},   {"tray-2", 2},   {"bottom", 2},          {"lower", 2},
      {"middle", 3}, {"envelope", 5}, {"large-capacity", 11},
  };
  if (keyword == nullptr) return 0;
  for (const Bin& b : kBins) {
    if (std::strcmp(b.keyword, keyword) == 0) return b.number;
  }
  return 0;
}

uint16_t DerivedNumber(std::string_view identity) {
  // FNV-1a: stable across runs and machines, unlike std::hash.
  uint32_t h = 2166136261u;
  for (unsigned char c : identity) {
    h ^= c;
    h *= 16777619u;
  }
  return static_cast<uint16_t>(257 + h % (32767 - 257 + 1));
}

namespace {

// The next number from `n` that is not taken, wrapping within 257..32767.
uint16_t FreeFrom(uint16_t n, const std::set<uint16_t>& taken) {
  while (taken.count(n) != 0) n = n >= 32767 ? 257 : static_cast<uint16_t>(n + 1);
  return n;
}

}  // namespace

std::vector<uint16_t> NumberPapers(const std::vector<PaperIdentity>& papers) {
  std::vector<uint16_t> numbers(papers.size(), 0);
  std::vector<size_t> order(papers.size());
  std::iota(order.begin(), order.end(), 0);
  // A fixed order of the papers themselves, so numbers never follow the list's order.
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const PaperIdentity& x = papers[a];
    const PaperIdentity& y = papers[b];
    if (x.key.size() != y.key.size()) return x.key.size() < y.key.size();
    return x.key < y.key;
  });
  std::set<uint16_t> taken;
  for (size_t i : order) {
    const PaperIdentity& p = papers[i];
    if (!p.variant.empty()) continue;
    const uint16_t code = PaperNumberForSize(p.width_tenths, p.height_tenths);
    if (code != 0 && taken.insert(code).second) numbers[i] = code;
  }
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const PaperIdentity& x = papers[a];
    const PaperIdentity& y = papers[b];
    return std::tie(x.size_name, x.variant, x.key) < std::tie(y.size_name, y.variant, y.key);
  });
  for (size_t i : order) {
    if (numbers[i] != 0) continue;
    const PaperIdentity& p = papers[i];
    const uint16_t n = FreeFrom(DerivedNumber(p.size_name + "/" + p.variant), taken);
    taken.insert(n);
    numbers[i] = n;
  }
  return numbers;
}

std::vector<uint16_t> NumberBins(const std::vector<std::string>& keywords) {
  std::vector<uint16_t> numbers(keywords.size(), 0);
  std::set<uint16_t> taken;
  for (size_t i = 0; i < keywords.size(); ++i) {
    const uint16_t code = BinNumberForKeyword(keywords[i].c_str());
    if (code != 0 && taken.insert(code).second) numbers[i] = code;
  }
  for (size_t i = 0; i < keywords.size(); ++i) {
    if (numbers[i] != 0) continue;
    numbers[i] = FreeFrom(DerivedNumber("bin/" + keywords[i]), taken);
    taken.insert(numbers[i]);
  }
  return numbers;
}

}  // namespace parvel::platform::linux_os
