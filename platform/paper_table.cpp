#include "platform/paper_table.h"

#include <algorithm>
#include <iterator>

namespace parvel::platform {
namespace {

constexpr PaperUnit kIn = PaperUnit::kInches;
constexpr PaperUnit kMm = PaperUnit::kTenthsMm;

constexpr PaperCode kCodes[] = {
    {1, "Letter 8 1/2 x 11 in", 8.5f, 11, kIn, false},
    {2, "Letter 8 1/2 x 11 in", 8.5f, 11, kIn, false},
    {3, "Tabloid 11 x 17 in", 11, 17, kIn, false},
    {4, "Ledger 17 x 11 in", 17, 11, kIn, false},
    {5, "Legal 8 12 x 14 in", 8.5f, 14, kIn, false},
    {6, "Statement 5 1/2 x 8 12 in", 5.5f, 8.5f, kIn, false},
    {7, "Executive 7 14 x 10 1/2 in", 7.25f, 10.5f, kIn, false},
    {8, "A3 297 x 420 mm", 2970, 4200, kMm, false},
    {9, "A4 210 x 297 mm", 2100, 2970, kMm, false},
    {10, "A4 Small 210 x 297 mm", 2100, 2970, kMm, false},
    {11, "A5 148 x 210 mm", 1480, 2100, kMm, false},
    {12, "B4 (JIS) 250 x 354", 2500, 3540, kMm, false},
    {13, "B5 (JIS) 182 x 257 mm", 1820, 2570, kMm, false},
    {14, "Folio 8 1/2 x 13 in", 8.5f, 13, kIn, false},
    {15, "Quarto 215 x 275 mm", 2150, 2750, kMm, false},
    {16, "10 x 14 in", 10, 14, kIn, false},
    {17, "11 x 17 in", 11, 17, kIn, false},
    {18, "Note 8 1/2 x 11 in", 8.5f, 11, kIn, false},
    {19, "Envelope #9 3 7/8 x 8 7/8", 3.875f, 8.875f, kIn, false},
    {20, "Envelope #10 4 18 x 9 1/2", 4.125f, 9.5f, kIn, false},
    {21, "Envelope #11 4 12 x 10 3/8", 4.5f, 10.375f, kIn, false},
    {22, "Envelope #12 4 276 x 11", 4.75f, 11, kIn, false},
    {23, "Envelope #14 5 x 11 1/2", 5, 11.5f, kIn, false},
    {24, "C size sheet", 17, 22, kIn, false},
    {25, "D size sheet", 22, 34, kIn, false},
    {26, "E size sheet", 34, 44, kIn, false},
    {27, "Envelope DL 110 x 220mm", 1100, 2200, kMm, false},
    {28, "Envelope C5 162 x 229 mm", 1620, 2290, kMm, false},
    {29, " Envelope C3  324 x 458 mm", 3240, 4580, kMm, false},
    {30, "Envelope C4  229 x 324 mm", 2290, 3240, kMm, false},
    {31, "Envelope C6  114 x 162 mm", 1140, 1620, kMm, false},
    {32, "Envelope C65 114 x 229 mm", 1140, 2290, kMm, false},
    {33, "Envelope B4  250 x 353 mm", 2500, 3530, kMm, false},
    {34, "Envelope B5  176 x 250 mm", 1760, 2500, kMm, false},
    {35, "Envelope B6  176 x 125 mm", 1760, 1250, kMm, false},
    {36, "Envelope 110 x 230 mm", 1100, 2300, kMm, false},
    {37, "Envelope Monarch 3.875 x 7.5 in", 3.875f, 7.5f, kIn, false},
    {38, "6 34 Envelope 3 5/8 x 6 1/2 in", 3.625f, 6.5f, kIn, false},
    {39, "US Std Fanfold 14 7/8 x 11 in", 14.875f, 11, kIn, false},
    {40, "German Std Fanfold 8 1/2 x 12 in", 8.5f, 12, kIn, false},
    {41, "German Legal Fanfold 8 1/2 x 13 in", 8.5f, 13, kIn, false},
    {42, "B4 (ISO) 250 x 353 mm", 2500, 3530, kMm, false},
    {43, "Japanese Postcard 100 x 148 mm", 1000, 1480, kMm, false},
    {44, "9 x 11 in", 9, 11, kIn, false},
    {45, "10 x 11 in", 10, 11, kIn, false},
    {46, "15 x 11 in", 15, 11, kIn, false},
    {47, "Envelope Invite 220 x 220 mm", 2200, 2200, kMm, false},
    {50, "Letter Extra 9 \\275 x 12 in", 9.275f, 12, kIn, false},
    {51, "Legal Extra 9 \\275 x 15 in", 9.275f, 15, kIn, false},
    {52, "Tabloid Extra 11.69 x 18 in", 11.69f, 18, kIn, false},
    {53, "A4 Extra 9.27 x 12.69 in", 9.27f, 12.69f, kIn, false},
    {54, "Letter Transverse 8 \\275 x 11 in", 8.275f, 11, kIn, true},
    {55, "A4 Transverse 210 x 297 mm", 2100, 2970, kMm, true},
    {56, "Letter Extra Transverse 9\\275 x 12 in", 9.275f, 12, kIn, true},
    {57, "SuperASuperAA4 227 x 356 mm", 2270, 3560, kMm, false},
    {58, "SuperBSuperBA3 305 x 487 mm", 3050, 4870, kMm, false},
    {59, "Letter Plus 8.5 x 12.69 in", 8.5f, 12.69f, kIn, false},
    {60, "A4 Plus 210 x 330 mm", 2100, 3300, kMm, false},
    {61, "A5 Transverse 148 x 210 mm", 1480, 2100, kMm, true},
    {62, "B5 (JIS) Transverse 182 x 257 mm", 1820, 2570, kMm, true},
    {63, "A3 Extra 322 x 445 mm", 3220, 4450, kMm, false},
    {64, "A5 Extra 174 x 235 mm", 1740, 2350, kMm, false},
    {65, "B5 (ISO) Extra 201 x 276 mm", 2010, 2760, kMm, false},
    {66, "A2 420 x 594 mm", 4200, 5940, kMm, false},
    {67, "A3 Transverse 297 x 420 mm", 2970, 4200, kMm, true},
    {68, "A3 Extra Transverse 322 x 445 mm", 3220, 4450, kMm, true},
    {118, "DMPAPER_A3_EXTRA_TRANSVERSE", 0, 0, kMm, false},
    {256, "Custom", 0, 0, kMm, false},
};

}  // namespace

std::span<const PaperCode> PaperCodes() { return kCodes; }

const PaperCode* FindPaperCode(int number) {
  const auto* found = std::find_if(std::begin(kCodes), std::end(kCodes),
                                   [&](const PaperCode& p) { return p.number == number; });
  return found == std::end(kCodes) ? nullptr : found;
}

}  // namespace parvel::platform
