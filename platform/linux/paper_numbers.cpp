#include "platform/linux/paper_numbers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <set>
#include <string>
#include <tuple>

namespace parvel::platform::linux_os {
namespace {

struct Sheet {
  uint16_t number;
  double width_mm;
  double height_mm;
};

constexpr double kInch = 25.4;

// Codes in ascending order, so the first match is the plain paper (Letter, not Note).
constexpr Sheet kSheets[] = {
    {1, 8.5 * kInch, 11 * kInch},
    {3, 11 * kInch, 17 * kInch},
    {4, 17 * kInch, 11 * kInch},
    {5, 8.5 * kInch, 14 * kInch},
    {6, 5.5 * kInch, 8.5 * kInch},
    {7, 7.25 * kInch, 10.5 * kInch},
    {8, 297, 420},
    {9, 210, 297},
    {11, 148, 210},
    {12, 250, 354},
    {13, 182, 257},
    {14, 8.5 * kInch, 13 * kInch},
    {15, 215, 275},
    {16, 10 * kInch, 14 * kInch},
    {19, 3.875 * kInch, 8.875 * kInch},
    {20, 4.125 * kInch, 9.5 * kInch},
    {21, 4.5 * kInch, 10.375 * kInch},
    {22, 4.75 * kInch, 11 * kInch},
    {23, 5 * kInch, 11.5 * kInch},
    {24, 17 * kInch, 22 * kInch},
    {25, 22 * kInch, 34 * kInch},
    {26, 34 * kInch, 44 * kInch},
    {27, 110, 220},
    {28, 162, 229},
    {29, 324, 458},
    {30, 229, 324},
    {31, 114, 162},
    {32, 114, 229},
    {33, 250, 353},
    {34, 176, 250},
    {35, 176, 125},
    {36, 110, 230},
    {37, 3.875 * kInch, 7.5 * kInch},
    {38, 3.625 * kInch, 6.5 * kInch},
    {39, 14.875 * kInch, 11 * kInch},
    {40, 8.5 * kInch, 12 * kInch},
    {41, 8.5 * kInch, 13 * kInch},
    {43, 100, 148},
    {44, 9 * kInch, 11 * kInch},
    {45, 10 * kInch, 11 * kInch},
    {46, 15 * kInch, 11 * kInch},
    {47, 220, 220},
    {50, 9.275 * kInch, 12 * kInch},
    {51, 9.275 * kInch, 15 * kInch},
    {52, 11.69 * kInch, 18 * kInch},
    {53, 9.27 * kInch, 12.69 * kInch},
    {57, 227, 356},
    {58, 305, 487},
    {59, 8.5 * kInch, 12.69 * kInch},
    {60, 210, 330},
    {63, 322, 445},
    {64, 174, 235},
    {65, 201, 276},
    {66, 420, 594},
};

bool Near(double a_mm, int32_t b_tenths) { return std::abs(a_mm * 10.0 - b_tenths) <= 10.0; }

}  // namespace

uint16_t PaperNumberForSize(int32_t width_tenths, int32_t height_tenths) {
  for (const Sheet& s : kSheets) {
    if (Near(s.width_mm, width_tenths) && Near(s.height_mm, height_tenths)) return s.number;
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
