#include "report/output/printer_info.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/services.h"
#include "platform/text.h"
#include "report/base/units.h"

namespace parvel::report {
namespace {

struct Paper {
  int number;
  const char* name;
  float width;  // inches when `inches`, else tenths of a millimetre
  float height;
  bool inches;
};

constexpr bool in = true;
constexpr bool mm = false;

const Paper kPapers[] = {
    {1, "Letter 8 1/2 x 11 in", 8.5f, 11, in},
    {2, "Letter 8 1/2 x 11 in", 8.5f, 11, in},
    {3, "Tabloid 11 x 17 in", 11, 17, in},
    {4, "Ledger 17 x 11 in", 17, 11, in},
    {5, "Legal 8 12 x 14 in", 8.5f, 14, in},
    {6, "Statement 5 1/2 x 8 12 in", 5.5f, 8.5f, in},
    {7, "Executive 7 14 x 10 1/2 in", 7.25f, 10.5f, in},
    {8, "A3 297 x 420 mm", 2970, 4200, mm},
    {9, "A4 210 x 297 mm", 2100, 2970, mm},
    {10, "A4 Small 210 x 297 mm", 2100, 2970, mm},
    {11, "A5 148 x 210 mm", 1480, 2100, mm},
    {12, "B4 (JIS) 250 x 354", 2500, 3540, mm},
    {13, "B5 (JIS) 182 x 257 mm", 1820, 2570, mm},
    {14, "Folio 8 1/2 x 13 in", 8.5f, 13, in},
    {15, "Quarto 215 x 275 mm", 2150, 2750, mm},
    {16, "10 x 14 in", 10, 14, in},
    {17, "11 x 17 in", 11, 17, in},
    {18, "Note 8 1/2 x 11 in", 8.5f, 11, in},
    {19, "Envelope #9 3 7/8 x 8 7/8", 3.875f, 8.875f, in},
    {20, "Envelope #10 4 18 x 9 1/2", 4.125f, 9.5f, in},
    {21, "Envelope #11 4 12 x 10 3/8", 4.5f, 10.375f, in},
    {22, "Envelope #12 4 276 x 11", 4.75f, 11, in},
    {23, "Envelope #14 5 x 11 1/2", 5, 11.5f, in},
    {24, "C size sheet", 17, 22, in},
    {25, "D size sheet", 22, 34, in},
    {26, "E size sheet", 34, 44, in},
    {27, "Envelope DL 110 x 220mm", 1100, 2200, mm},
    {28, "Envelope C5 162 x 229 mm", 1620, 2290, mm},
    {29, " Envelope C3  324 x 458 mm", 3240, 4580, mm},
    {30, "Envelope C4  229 x 324 mm", 2290, 3240, mm},
    {31, "Envelope C6  114 x 162 mm", 1140, 1620, mm},
    {32, "Envelope C65 114 x 229 mm", 1140, 2290, mm},
    {33, "Envelope B4  250 x 353 mm", 2500, 3530, mm},
    {34, "Envelope B5  176 x 250 mm", 1760, 2500, mm},
    {35, "Envelope B6  176 x 125 mm", 1760, 1250, mm},
    {36, "Envelope 110 x 230 mm", 1100, 2300, mm},
    {37, "Envelope Monarch 3.875 x 7.5 in", 3.875f, 7.5f, in},
    {38, "6 34 Envelope 3 5/8 x 6 1/2 in", 3.625f, 6.5f, in},
    {39, "US Std Fanfold 14 7/8 x 11 in", 14.875f, 11, in},
    {40, "German Std Fanfold 8 1/2 x 12 in", 8.5f, 12, in},
    {41, "German Legal Fanfold 8 1/2 x 13 in", 8.5f, 13, in},
    {42, "B4 (ISO) 250 x 353 mm", 2500, 3530, mm},
    {43, "Japanese Postcard 100 x 148 mm", 1000, 1480, mm},
    {44, "9 x 11 in", 9, 11, in},
    {45, "10 x 11 in", 10, 11, in},
    {46, "15 x 11 in", 15, 11, in},
    {47, "Envelope Invite 220 x 220 mm", 2200, 2200, mm},
    {50, "Letter Extra 9 \\275 x 12 in", 9.275f, 12, in},
    {51, "Legal Extra 9 \\275 x 15 in", 9.275f, 15, in},
    {52, "Tabloid Extra 11.69 x 18 in", 11.69f, 18, in},
    {53, "A4 Extra 9.27 x 12.69 in", 9.27f, 12.69f, in},
    {54, "Letter Transverse 8 \\275 x 11 in", 8.275f, 11, in},
    {55, "A4 Transverse 210 x 297 mm", 2100, 2970, mm},
    {56, "Letter Extra Transverse 9\\275 x 12 in", 9.275f, 12, in},
    {57, "SuperASuperAA4 227 x 356 mm", 2270, 3560, mm},
    {58, "SuperBSuperBA3 305 x 487 mm", 3050, 4870, mm},
    {59, "Letter Plus 8.5 x 12.69 in", 8.5f, 12.69f, in},
    {60, "A4 Plus 210 x 330 mm", 2100, 3300, mm},
    {61, "A5 Transverse 148 x 210 mm", 1480, 2100, mm},
    {62, "B5 (JIS) Transverse 182 x 257 mm", 1820, 2570, mm},
    {63, "A3 Extra 322 x 445 mm", 3220, 4450, mm},
    {64, "A5 Extra 174 x 235 mm", 1740, 2350, mm},
    {65, "B5 (ISO) Extra 201 x 276 mm", 2010, 2760, mm},
    {66, "A2 420 x 594 mm", 4200, 5940, mm},
    {67, "A3 Transverse 297 x 420 mm", 2970, 4200, mm},
    {68, "A3 Extra Transverse 322 x 445 mm", 3220, 4450, mm},
    {118, "DMPAPER_A3_EXTRA_TRANSVERSE", 0, 0, mm},
    {256, "Custom", 0, 0, mm},
};

const Paper* FindPaper(int number) {
  for (const Paper& p : kPapers) {
    if (p.number == number) return &p;
  }
  return nullptr;
}

// A driver's fixed-size text field: up to the first zero, at most `limit` characters.
std::string Field(const std::string& text, size_t limit) {
  size_t end = std::min(text.find('\0'), limit);
  return text.substr(0, end);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

template <class T>
void EraseAt(std::vector<T>& list, size_t i) {
  if (i < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
}

template <class T>
void MoveToEnd(std::vector<T>& list, size_t i) {
  if (i >= list.size()) return;
  T item = std::move(list[i]);
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
  list.push_back(std::move(item));
}

void SetOrAppend(std::vector<std::string>& list, size_t i, std::string value) {
  if (i < list.size())
    list[i] = std::move(value);
  else
    list.push_back(std::move(value));
}

}  // namespace

std::string BuiltInPaperName(int number) {
  const Paper* p = FindPaper(number);
  return p ? p->name : "Unknown";
}

std::pair<int32_t, int32_t> BuiltInPaperSize(int number) {
  const Paper* p = FindPaper(number);
  if (p == nullptr) return {0, 0};
  if (!p->inches) return {static_cast<int32_t>(p->width), static_cast<int32_t>(p->height)};
  return {UnitsToTenthsMM(p->width, utInches, dirHorizontal),
          UnitsToTenthsMM(p->height, utInches, dirVertical)};
}

void TppPrinterCapabilities::Load(const platform::PrinterCapabilities& reported) {
  for (const std::string& name : reported.paper_names) PaperNames.push_back(Field(name, 64));
  for (uint16_t number : reported.papers) Papers.push_back(std::to_string(number));
  for (const auto& [width, height] : reported.paper_sizes) {
    PaperWidths.push_back(std::to_string(width));
    PaperHeights.push_back(std::to_string(height));
  }
  for (const std::string& name : reported.bin_names) BinNames.push_back(Field(name, 24));
  for (uint16_t number : reported.bins) Bins.push_back(std::to_string(number));
  SupportsCopies = reported.copies_max > 2;
  NormalisePapers();
  NormaliseBins();
}

void TppPrinterCapabilities::NormalisePapers() {
  if (Papers.size() < PaperNames.size()) {
    PaperNames.resize(Papers.size());
  } else if (PaperNames.size() < Papers.size()) {
    PaperNames.clear();
    for (size_t i = 0; i < Papers.size(); ++i) {
      std::string name = BuiltInPaperName(text::ToInt(Papers[i]));
      if (name == "Unknown") {
        if (i < PaperWidths.size() && i < PaperHeights.size()) {
          name = std::to_string(text::ToInt(PaperWidths[i]) / 10) + " x " +
                 std::to_string(text::ToInt(PaperHeights[i]) / 10) + " mm";
        } else {
          name = "Unknown: " + Papers[i];
        }
      }
      PaperNames.push_back(name);
    }
  }

  auto custom = std::find(Papers.begin(), Papers.end(), "256");
  size_t custom_at = static_cast<size_t>(custom - Papers.begin());
  if (custom == Papers.end()) {
    auto named = std::find_if(PaperNames.begin(), PaperNames.end(), [](const std::string& n) {
      std::string upper = Upper(n);
      return upper.find("CUSTOM") != std::string::npos || upper.find("USER") != std::string::npos;
    });
    custom_at = static_cast<size_t>(named - PaperNames.begin());
    if (named == PaperNames.end()) {
      PaperNames.emplace_back("Custom");
      Papers.emplace_back("256");
      custom_at = Papers.size() - 1;
    }
  }
  PaperNames[custom_at] = "Custom";

  for (size_t i = 0; i < Papers.size(); ++i) {
    if (i < PaperWidths.size() && i < PaperHeights.size()) continue;
    auto [width, height] = BuiltInPaperSize(text::ToInt(Papers[i]));
    SetOrAppend(PaperWidths, i, std::to_string(width));
    SetOrAppend(PaperHeights, i, std::to_string(height));
  }

  for (size_t i = Papers.size(); i-- > 0;) {
    if (i < PaperNames.size() && PaperNames[i] == "Custom") continue;
    if (PaperWidths[i] == "0" || PaperHeights[i] == "0") {
      EraseAt(PaperNames, i);
      EraseAt(Papers, i);
      EraseAt(PaperWidths, i);
      EraseAt(PaperHeights, i);
    }
  }

  auto last_custom = std::find(PaperNames.begin(), PaperNames.end(), "Custom");
  size_t at = static_cast<size_t>(last_custom - PaperNames.begin());
  MoveToEnd(PaperNames, at);
  MoveToEnd(Papers, at);
  MoveToEnd(PaperWidths, at);
  MoveToEnd(PaperHeights, at);
}

void TppPrinterCapabilities::NormaliseBins() {
  size_t count = std::min(Bins.size(), BinNames.size());
  Bins.resize(count);
  BinNames.resize(count);
  if (std::find(BinNames.begin(), BinNames.end(), "Default") == BinNames.end()) {
    BinNames.insert(BinNames.begin(), "Default");
    Bins.insert(Bins.begin(), "7");
  }
}

TppPrinterInfo::TppPrinterInfo(std::string name, bool is_local, std::optional<std::string> port,
                               std::optional<std::string> device, std::optional<std::string> driver)
    : driver_(std::move(driver)),
      device_(std::move(device)),
      port_(std::move(port)),
      name_(std::move(name)),
      is_local_(is_local) {}

TppPrinterInfo::~TppPrinterInfo() = default;

TppPrinterCapabilities& TppPrinterInfo::GetCapabilities() {
  if (capabilities_ && capabilities_read_) return *capabilities_;
  if (!capabilities_) capabilities_ = std::make_unique<TppPrinterCapabilities>(name_);
  platform::PrinterCapabilities reported;
  capabilities_read_ = true;
  if (platform::Spooler* spooler = platform::Find<platform::Spooler>(); spooler && device_) {
    try {
      reported = spooler->Capabilities(*device_);
    } catch (const std::exception&) {
      // Counts as a driver that reports nothing, for now: a server that restarts answers later.
      reported = {};
      capabilities_read_ = false;
    }
  }
  *capabilities_ = TppPrinterCapabilities(name_);
  capabilities_->Load(reported);
  return *capabilities_;
}

bool TppPrinterInfo::Revalidate() {
  if (valid_) return true;
  platform::Spooler* spooler = platform::Find<platform::Spooler>();
  if (spooler == nullptr || !device_ || device_->empty()) return false;
  try {
    if (spooler->OpenPrinter(*device_) == nullptr) return false;
  } catch (const std::exception&) {
    return false;
  }
  valid_ = true;
  capabilities_read_ = false;
  return true;
}

TppScreenPrinterInfo::TppScreenPrinterInfo()
    : TppPrinterInfo("Screen", true, std::nullopt, std::string("Screen"), std::nullopt) {}

TppPrinterCapabilities& TppScreenPrinterInfo::GetCapabilities() {
  if (capabilities_) return *capabilities_;
  capabilities_read_ = true;
  capabilities_ = std::make_unique<TppPrinterCapabilities>(Name());
  TppPrinterCapabilities& caps = *capabilities_;
  caps.Bins = {"7"};
  caps.BinNames = {"Default"};
  caps.SupportsCopies = false;
  for (int number : {256, 1, 5, 8, 8, 9, 17, 39, 40, 19, 20, 21, 22, 23}) {
    auto [width, height] = BuiltInPaperSize(number);
    caps.Papers.push_back(std::to_string(number));
    caps.PaperNames.push_back(BuiltInPaperName(number));
    caps.PaperWidths.push_back(std::to_string(width));
    caps.PaperHeights.push_back(std::to_string(height));
  }
  return caps;
}

}  // namespace parvel::report
