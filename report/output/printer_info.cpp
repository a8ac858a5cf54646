#include "report/output/printer_info.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/paper_table.h"
#include "platform/services.h"
#include "report/base/units.h"

namespace parvel::report {
namespace {

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

}  // namespace

std::string BuiltInPaperName(int number) {
  const platform::PaperCode* p = platform::FindPaperCode(number);
  return p ? p->name : "Unknown";
}

std::pair<int32_t, int32_t> BuiltInPaperSize(int number) {
  const platform::PaperCode* p = platform::FindPaperCode(number);
  if (p == nullptr) return {0, 0};
  if (p->unit == platform::PaperUnit::kTenthsMm) {
    return {static_cast<int32_t>(p->width), static_cast<int32_t>(p->height)};
  }
  return {UnitsToTenthsMM(p->width, utInches, dirHorizontal),
          UnitsToTenthsMM(p->height, utInches, dirVertical)};
}

namespace {

// The built-in name of a paper the driver leaves unnamed; for a number the table does not hold,
// the driver's size in whole millimetres.
std::string BuiltInNameOf(const platform::PaperRecord& paper) {
  std::string name = BuiltInPaperName(paper.number);
  if (name != "Unknown") return name;
  if (!paper.size) return "Unknown: " + std::to_string(paper.number);
  return std::to_string(paper.size->width_tenths_mm / 10) + " x " +
         std::to_string(paper.size->height_tenths_mm / 10) + " mm";
}

}  // namespace

void TppPrinterCapabilities::Load(const platform::PrinterCapabilities& reported) {
  // A driver names all of its papers or none: where one paper has no name, every name comes
  // from the built-in table, so one list never mixes the driver's names with ours.
  const bool named = std::all_of(reported.papers.begin(), reported.papers.end(),
                                 [](const platform::PaperRecord& p) { return !p.name.empty(); });
  for (const platform::PaperRecord& p : reported.papers) {
    Papers.push_back(std::to_string(p.number));
    PaperNames.push_back(named ? Field(p.name, 64) : BuiltInNameOf(p));
    // A paper without a size has the built-in one; a size of nothing stays, and the paper goes.
    const auto [width, height] = p.size ? std::make_pair(p.size->width_tenths_mm, p.size->height_tenths_mm)
                                        : BuiltInPaperSize(p.number);
    PaperWidths.push_back(std::to_string(width));
    PaperHeights.push_back(std::to_string(height));
  }
  // A bin without a name cannot be chosen by name: it is left out.
  for (const platform::BinRecord& b : reported.bins) {
    if (b.name.empty()) continue;
    BinNames.push_back(Field(b.name, 24));
    Bins.push_back(std::to_string(b.number));
  }
  SupportsCopies = reported.copies_max > 2;
  NormalisePapers();
  NormaliseBins();
}

void TppPrinterCapabilities::NormalisePapers() {
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
      PaperWidths.emplace_back("0");
      PaperHeights.emplace_back("0");
      custom_at = Papers.size() - 1;
    }
  }
  PaperNames[custom_at] = "Custom";

  for (size_t i = Papers.size(); i-- > 0;) {
    if (PaperNames[i] == "Custom") continue;
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
