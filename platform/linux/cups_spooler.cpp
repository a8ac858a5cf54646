#include "platform/linux/cups_spooler.h"

#include <cups/cups.h>
#include <cups/ppd.h>

#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/paper_numbers.h"
#include "platform/services.h"
#include "platform/text.h"

// The PPD API is deprecated in libcups 2.4 but is still the only place a queue's page size
// names and input slot texts live.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace parvel::platform::linux_os {
namespace {

// How long the connection of the last job serves the next one: cards come one after another.
constexpr auto kKeepFor = std::chrono::seconds(3);

using Http = std::unique_ptr<http_t, CupsSpooler::HttpCloser>;

struct DestFree {
  void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
using Dest = std::unique_ptr<cups_dest_t, DestFree>;

struct InfoFree {
  void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};
using Info = std::unique_ptr<cups_dinfo_t, InfoFree>;

struct PpdClose {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using Ppd = std::unique_ptr<ppd_file_t, PpdClose>;

}  // namespace

void CupsSpooler::HttpCloser::operator()(http_t* http) const { httpClose(http); }

namespace {

// Whether CUPS's last answer was that this user may not in without a password, or not at all.
bool LockedOut() {
  switch (cupsLastError()) {
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED:
      return true;
    default:
      return false;
  }
}

// CUPS's last word, or, when the server wanted a password, what a station can do about it.
std::string LastError() {
  if (!LockedOut()) return cupsLastErrorString();
  return std::string("the CUPS server at ") + cupsServer() + " asks " + cupsUser() + " for a password (" +
         cupsLastErrorString() +
         "), and parvel gives none: let this station in by its address or group in the server's policy "
         "(or with Kerberos), or name the user CUPS knows in ~/.cups/client.conf (User)";
}

}  // namespace

void RefusePasswordPrompts() {
  cupsSetPasswordCB2([](const char* /*prompt*/, http_t* /*http*/, const char* /*method*/,
                        const char* /*resource*/, void* /*data*/) -> const char* { return nullptr; },
                     nullptr);
}

// A stalled server must not hold the program: give up after the timeout, and take the server as
// silent for as long again.
int CupsSpooler::GaveUp(http_t*, void* spooler) {
  static_cast<CupsSpooler*>(spooler)->NoteSilence();
  return 0;
}

void CupsSpooler::NoteSilence() {
  std::lock_guard<std::mutex> guard(lock_);
  silent_until_ = std::chrono::steady_clock::now() + timeout_;
}

bool IsPrinterAddress(std::string_view device) {
  return device.starts_with("ipp://") || device.starts_with("ipps://");
}

namespace {

// Where a connection for `device` goes: the CUPS server (""), or the printer at its address.
std::string Target(const std::string& device) { return IsPrinterAddress(device) ? device : std::string(); }

// The path requests about `device` are posted to: a printer takes them at its own.
std::string ResourceOf(const std::string& device) {
  if (!IsPrinterAddress(device)) return "/";
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, device.c_str(), scheme, sizeof scheme, user, sizeof user, host,
                      sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return "/";
  }
  return resource;
}

}  // namespace

Http CupsSpooler::Connect(bool even_if_silent, const std::string& device) {
  const bool direct = IsPrinterAddress(device);
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!even_if_silent && std::chrono::steady_clock::now() < silent_until_) {
      throw SpoolerError(
          (direct ? "The printer at " + device : std::string("The CUPS server at ") + cupsServer()) +
          " did not answer in time");
    }
  }
  std::string host = cupsServer();
  int port = ippPort();
  http_encryption_t encryption = cupsEncryption();
  if (direct) {
    char scheme[32], user[256], hostname[256], resource[1024];
    if (httpSeparateURI(HTTP_URI_CODING_ALL, device.c_str(), scheme, sizeof scheme, user, sizeof user,
                        hostname, sizeof hostname, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
      throw SpoolerError("\"" + device + "\" is no printer address", SpoolerError::Kind::kNoSuchPrinter);
    }
    host = hostname;
    encryption = std::string_view(scheme) == "ipps" ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED;
  }
  const auto started = std::chrono::steady_clock::now();
  http_t* http = httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, encryption, 1,
                              static_cast<int>(timeout_.count()), nullptr);
  if (http == nullptr) {
    // Refused at once: a server restarting, not for good. Refused only after the timeout: silent.
    if (std::chrono::steady_clock::now() - started >= timeout_) NoteSilence();
    if (direct) throw SpoolerError("No printer answers at " + device + ": " + LastError());
    throw SpoolerError(std::string("No CUPS server answers at ") + cupsServer() + ": " + LastError());
  }
  httpSetTimeout(http, static_cast<double>(timeout_.count()) / 1000.0, GaveUp, this);
  Http connection(http);
  // A printer is asked about itself only; its own answers keep to the timeout.
  if (direct) return connection;
  // libcups's own lookups (cupsGetNamedDest) wait in polls of their own, far beyond this timeout,
  // on a server that takes connections and never answers. One small request on this connection
  // keeps to the timeout, so a silent server is found out before any lookup waits on it.
  const auto asked = std::chrono::steady_clock::now();
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
  ipp_t* answer = cupsDoRequest(http, request, "/");
  if (answer == nullptr) {
    if (LockedOut()) throw SpoolerError("CUPS refused: " + LastError(), SpoolerError::Kind::kRefused);
    if (std::chrono::steady_clock::now() - asked >= timeout_) NoteSilence();
    throw SpoolerError(std::string("The CUPS server at ") + cupsServer() + " did not answer");
  }
  ippDelete(answer);
  return connection;
}

namespace {

// What CUPS's last answer says of the printer: gone for good only when CUPS says it does not
// exist; an unanswered request or a queue that is stopped or closed may pass.
SpoolerError::Kind LastErrorKind() {
  switch (cupsLastError()) {
    case IPP_STATUS_ERROR_NOT_FOUND:
      return SpoolerError::Kind::kNoSuchPrinter;
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
    case IPP_STATUS_ERROR_INTERNAL:
    case IPP_STATUS_ERROR_TIMEOUT:
    case IPP_STATUS_ERROR_BUSY:
    case IPP_STATUS_ERROR_TEMPORARY:
    case IPP_STATUS_ERROR_PRINTER_IS_DEACTIVATED:
      return SpoolerError::Kind::kUnavailable;
    default:
      return cupsLastError() >= IPP_STATUS_ERROR_BAD_REQUEST && cupsLastError() < IPP_STATUS_ERROR_INTERNAL
                 ? SpoolerError::Kind::kRefused
                 : SpoolerError::Kind::kUnavailable;
  }
}

Dest NamedDest(http_t* http, const std::string& device) {
  // A printer's own address needs no queue: the destination is made of the address.
  if (IsPrinterAddress(device)) return Dest(cupsGetDestWithURI(nullptr, device.c_str()));
  cups_dest_t* dest = cupsGetNamedDest(http, device.c_str(), nullptr);
  if (dest == nullptr) {
    // Not let in is no sign of a printer that is gone.
    if (LockedOut()) {
      throw SpoolerError("The printer \"" + device + "\" cannot be asked: " + LastError(),
                         SpoolerError::Kind::kRefused);
    }
    const SpoolerError::Kind kind = LastErrorKind() == SpoolerError::Kind::kRefused
                                        ? SpoolerError::Kind::kNoSuchPrinter
                                        : LastErrorKind();
    if (kind == SpoolerError::Kind::kNoSuchPrinter) {
      throw SpoolerError("The printer \"" + device + "\" is not installed: " + LastError(), kind);
    }
    throw SpoolerError("The printer \"" + device + "\" cannot be asked now: " + LastError(), kind);
  }
  return Dest(dest);
}

int32_t PointsToMicrons(double points) { return static_cast<int32_t>(std::lround(points * 25400.0 / 72.0)); }

// Sheets are kept in portrait terms; a sheet declared wider than high is turned a quarter to
// the left, so its left margin becomes the portrait top.
PaperArea Portrait(PaperArea a) {
  if (a.width_um <= a.height_um) return a;
  return PaperArea{a.height_um, a.width_um, a.bottom_um, a.left_um, a.top_um, a.right_um};
}

void ParseResolution(const char* text, int& x, int& y) {
  if (text == nullptr) return;
  int rx = 0, ry = 0;
  int n = std::sscanf(text, "%dx%d", &rx, &ry);
  if (n >= 1 && rx > 0) {
    x = rx;
    y = (n == 2 && ry > 0) ? ry : rx;
  }
}

// The PWG name of a size in thousandths of a millimetre, as every queue would name it.
std::string SizeName(int32_t width, int32_t height) {
  pwg_media_t* pwg = pwgMediaForSize(static_cast<int>(std::lround(width / 10.0)),
                                     static_cast<int>(std::lround(height / 10.0)));
  return pwg != nullptr && pwg->pwg != nullptr ? pwg->pwg : std::string();
}

void AddPaper(CupsSpooler::Detail& d, std::vector<PaperIdentity>& ids, const std::string& name,
              const std::string& key, std::string variant, PaperArea area) {
  area = Portrait(area);
  const int32_t width = static_cast<int32_t>(std::lround(area.width_um / 100.0));
  const int32_t height = static_cast<int32_t>(std::lround(area.height_um / 100.0));
  d.capabilities.papers.push_back(PaperRecord{name, key, 0, PaperSize{width, height}, area});
  d.variants.push_back(variant);
  ids.push_back(
      PaperIdentity{width, height, SizeName(area.width_um, area.height_um), std::move(variant), key});
}

void NumberPapers(CupsSpooler::Detail& d, const std::vector<PaperIdentity>& ids) {
  std::vector<uint16_t> numbers = linux_os::NumberPapers(ids);
  for (size_t i = 0; i < numbers.size(); ++i) d.capabilities.papers[i].number = numbers[i];
}

void AddBins(CupsSpooler::Detail& d, const std::vector<std::string>& keys,
             const std::vector<std::string>& names) {
  std::vector<uint16_t> numbers = NumberBins(keys);
  for (size_t i = 0; i < keys.size(); ++i)
    d.capabilities.bins.push_back(BinRecord{names[i], keys[i], numbers[i]});
}

std::vector<std::string> Strings(ipp_attribute_t* attr) {
  std::vector<std::string> out;
  for (int i = 0; attr != nullptr && i < ippGetCount(attr); ++i) {
    if (const char* s = ippGetString(attr, i, nullptr)) out.emplace_back(s);
  }
  return out;
}

// A paper's variant from its key: the part after the size ("A4.Fullbleed", "..._borderless").
std::string VariantOf(const std::string& key, bool ppd) {
  std::string variant;
  if (ppd) {
    if (auto dot = key.find('.'); dot != std::string::npos) variant = text::Lower(key.substr(dot + 1));
  } else if (key.size() > 11 && key.compare(key.size() - 11, 11, "_borderless") == 0) {
    variant = "borderless";
  }
  return variant == "fullbleed" ? "borderless" : variant;
}

void ReadFromPpd(ppd_file_t* ppd, http_t* http, cups_dest_t* dest, cups_dinfo_t* info,
                 CupsSpooler::Detail& d) {
  ppd_option_t* page_size = ppdFindOption(ppd, "PageSize");
  std::vector<PaperIdentity> ids;
  for (int i = 0; i < ppd->num_sizes; ++i) {
    ppd_size_t& s = ppd->sizes[i];
    if (std::strcmp(s.name, "Custom") == 0) continue;
    ppd_choice_t* choice = page_size ? ppdFindChoice(page_size, s.name) : nullptr;
    std::string name = (choice && choice->text[0]) ? choice->text : s.name;
    PaperArea area{
        PointsToMicrons(s.width),          PointsToMicrons(s.length),          PointsToMicrons(s.left),
        PointsToMicrons(s.length - s.top), PointsToMicrons(s.width - s.right), PointsToMicrons(s.bottom)};
    // A job names the paper by the driver's own page size name: it tells a size's variants
    // ("A4", "A4.Fullbleed") apart, where a size would name either.
    if (ppd_choice_t* marked = page_size ? ppdFindMarkedChoice(ppd, "PageSize") : nullptr;
        marked && std::strcmp(marked->choice, s.name) == 0) {
      d.default_paper = static_cast<int>(d.capabilities.papers.size());
    }
    AddPaper(d, ids, name, s.name, VariantOf(s.name, true), area);
  }
  NumberPapers(d, ids);
  d.custom_sizes = ppd->variable_sizes != 0;
  if (ppd->variable_sizes) {
    d.capabilities.papers.push_back(PaperRecord{"Custom", std::string(), 256, PaperSize{}, PaperArea{}});
    d.variants.emplace_back();
  }

  // The spooler lists the input slots' keywords in the PPD's order.
  std::vector<std::string> ipp_sources = Strings(cupsFindDestSupported(http, dest, info, CUPS_MEDIA_SOURCE));
  std::vector<std::string> keys, names;
  if (ppd_option_t* slot = ppdFindOption(ppd, "InputSlot")) {
    ppd_choice_t* marked = ppdFindMarkedChoice(ppd, "InputSlot");
    for (int i = 0; i < slot->num_choices; ++i) {
      ppd_choice_t& c = slot->choices[i];
      bool same_count = static_cast<int>(ipp_sources.size()) == slot->num_choices;
      keys.push_back(same_count ? ipp_sources[i] : text::Lower(c.choice));
      names.emplace_back(c.text[0] ? c.text : c.choice);
      if (marked == &c) d.default_bin = i;
    }
  }
  AddBins(d, keys, names);

  ParseResolution(ppdFindAttr(ppd, "DefaultResolution", nullptr)
                      ? ppdFindAttr(ppd, "DefaultResolution", nullptr)->value
                      : nullptr,
                  d.capabilities.dpi_x, d.capabilities.dpi_y);
  d.capabilities.color = d.capabilities.color || ppd->color_device;
}

void ReadFromIpp(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, CupsSpooler::Detail& d) {
  std::vector<std::string> seen;
  std::vector<PaperIdentity> ids;
  int count = cupsGetDestMediaCount(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT);
  for (int i = 0; i < count; ++i) {
    cups_size_t s;
    if (!cupsGetDestMediaByIndex(http, dest, info, i, CUPS_MEDIA_FLAGS_DEFAULT, &s)) continue;
    // libcups lists borderless variants as papers of their own, and so do we: each keeps its key.
    std::string key = s.media;
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(key);
    const char* local = cupsLocalizeDestMedia(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &s);
    PaperArea area{s.width * 10, s.length * 10, s.left * 10, s.top * 10, s.right * 10, s.bottom * 10};
    std::string name = local ? local : key;
    std::string variant = VariantOf(key, false);
    if (!variant.empty() && name.find('(') == std::string::npos) name += " (" + variant + ")";
    AddPaper(d, ids, name, key, variant, area);
  }
  NumberPapers(d, ids);
  for (const std::string& media : Strings(cupsFindDestSupported(http, dest, info, CUPS_MEDIA))) {
    if (media.rfind("custom_min_", 0) == 0) d.custom_sizes = true;
  }
  std::vector<std::string> keys = Strings(cupsFindDestSupported(http, dest, info, CUPS_MEDIA_SOURCE));
  std::vector<std::string> names;
  for (const std::string& k : keys) {
    const char* local = cupsLocalizeDestValue(http, dest, info, CUPS_MEDIA_SOURCE, k.c_str());
    names.emplace_back(local ? local : k);
  }
  AddBins(d, keys, names);
  if (ipp_attribute_t* res = cupsFindDestDefault(http, dest, info, "printer-resolution")) {
    ipp_res_t units;
    int y = 0;
    int x = ippGetResolution(res, 0, &y, &units);
    if (units == IPP_RES_PER_CM) {
      x = static_cast<int>(std::lround(x * 2.54));
      y = static_cast<int>(std::lround(y * 2.54));
    }
    if (x > 0 && y > 0) {
      d.capabilities.dpi_x = x;
      d.capabilities.dpi_y = y;
    }
  }
}

void ReadMedia(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, CupsSpooler::Detail& d) {
  const int count = cupsGetDestMediaCount(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT);
  for (int i = 0; i < count; ++i) {
    cups_size_t s;
    if (!cupsGetDestMediaByIndex(http, dest, info, i, CUPS_MEDIA_FLAGS_DEFAULT, &s)) continue;
    const PaperArea area = Portrait(
        PaperArea{s.width * 10, s.length * 10, s.left * 10, s.top * 10, s.right * 10, s.bottom * 10});
    const bool borderless = s.left == 0 && s.top == 0 && s.right == 0 && s.bottom == 0;
    d.media.push_back(CupsSpooler::Detail::Medium{s.media, area, borderless});
  }
}

class CupsPrinterHandle : public PrinterHandle {
 public:
  explicit CupsPrinterHandle(std::string device) : device_(std::move(device)) {}
  const std::string& Device() const override { return device_; }

 private:
  std::string device_;
};

}  // namespace

std::vector<PrinterEntry> CupsSpooler::Printers() {
  Http http = Connect();
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(http.get(), &dests);
  if (count == 0 && cupsLastError() >= IPP_STATUS_ERROR_BAD_REQUEST &&
      cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
    throw SpoolerError(std::string("CUPS lists no printers: ") + LastError());
  }
  std::vector<PrinterEntry> printers;
  for (int i = 0; i < count; ++i) {
    const cups_dest_t& d = dests[i];
    if (d.instance != nullptr) continue;  // instances are option sets of a queue, not printers
    PrinterEntry e;
    e.name = d.name;
    e.device = d.name;
    if (const char* uri = cupsGetOption("device-uri", d.num_options, d.options)) e.port = uri;
    if (const char* type = cupsGetOption("printer-type", d.num_options, d.options)) {
      e.is_local = (std::strtoul(type, nullptr, 10) & CUPS_PRINTER_REMOTE) == 0;
    }
    printers.push_back(std::move(e));
  }
  cupsFreeDests(count, dests);
  return printers;
}

std::optional<PrinterEntry> CupsSpooler::PrinterByAddress(const std::string& name) {
  if (!IsPrinterAddress(name)) return std::nullopt;
  return PrinterEntry{name, name, name, /*is_local=*/false};
}

std::string CupsSpooler::DefaultPrinterDevice() {
  Http http;
  try {
    http = Connect();
  } catch (const SpoolerError&) {
    return {};
  }
  cups_dest_t* dest = cupsGetNamedDest(http.get(), nullptr, nullptr);
  if (dest == nullptr) return {};
  std::string name = dest->name;
  cupsFreeDests(1, dest);
  return name;
}

std::string FormatNumber(double value) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

std::string CustomMediaKeyword(int width_tenths, int length_tenths) {
  return "custom_" + FormatNumber(width_tenths / 10.0) + "x" + FormatNumber(length_tenths / 10.0) + "mm";
}

CupsSpooler::PaperChoice CupsSpooler::Detail::Choose(const DeviceSettings& s) const {
  const PrinterCapabilities& caps = capabilities;
  auto area = [&](size_t i) { return caps.papers[i].area.value_or(PaperArea{}); };
  auto listed = [&](size_t i) { return area(i).width_um > 0 && area(i).height_um > 0; };
  auto paper = [&](size_t i) { return PaperChoice{area(i), caps.papers[i].key}; };
  auto fallback = [&]() {
    // The queue's own default paper, and no media option: the queue then uses it too.
    if (default_paper >= 0 && listed(static_cast<size_t>(default_paper))) {
      return PaperChoice{area(static_cast<size_t>(default_paper)), std::string()};
    }
    for (size_t i = 0; i < caps.papers.size(); ++i) {
      if (listed(i)) return PaperChoice{area(i), std::string()};
    }
    return PaperChoice{PaperArea{215900, 279400, 0, 0, 0, 0}, std::string()};  // a queue naming no paper
  };
  const bool sized = s.HasOwnSize();
  if (s.Has(DeviceSettings::fmPaperSize) && !s.IsCustomPaper()) {
    const int at = caps.PaperAt(static_cast<uint16_t>(s.paper_size));
    if (at >= 0 && listed(static_cast<size_t>(at))) return paper(static_cast<size_t>(at));
  }
  if (!sized) return fallback();
  // A size: first the medium of the queue's media database closest to it within 1 mm either way
  // round, then the listed paper (a driver's page size) so close; the plain one before its
  // variants; else the size itself where the queue takes custom sizes.
  const int32_t w = s.paper_width * 100;
  const int32_t l = s.paper_length * 100;
  auto closest = [&](size_t count, auto&& area_at, auto&& plain_at) {
    int best = -1;
    int32_t best_gap = 0;
    for (size_t i = 0; i < count; ++i) {
      const PaperArea a = area_at(i);
      if (a.width_um <= 0 || a.height_um <= 0) continue;
      for (bool turned : {false, true}) {
        const int32_t aw = turned ? a.height_um : a.width_um;
        const int32_t al = turned ? a.width_um : a.height_um;
        if (std::abs(aw - w) > 1000 || std::abs(al - l) > 1000) continue;
        const int32_t gap = std::abs(aw - w) + std::abs(al - l) + (plain_at(i) ? 0 : 1);
        if (best < 0 || gap < best_gap) {
          best = static_cast<int>(i);
          best_gap = gap;
        }
      }
    }
    return best;
  };
  const int medium = closest(
      media.size(), [&](size_t i) { return media[i].area; }, [&](size_t i) { return !media[i].borderless; });
  if (medium >= 0)
    return PaperChoice{media[static_cast<size_t>(medium)].area, media[static_cast<size_t>(medium)].key};
  const int best = closest(caps.papers.size(), area, [&](size_t i) { return variants[i].empty(); });
  if (best >= 0) return paper(static_cast<size_t>(best));
  if (custom_sizes) {
    return PaperChoice{PaperArea{w, l, 0, 0, 0, 0}, CustomMediaKeyword(s.paper_width, s.paper_length)};
  }
  return fallback();
}

namespace {

// The paper of `member` with the size of `paper` (within 1 mm, in portrait terms) and the same
// variant, the one with the same keyword first; -1 when it has none.
int SameSize(const CupsSpooler::Detail& member, const PaperRecord& paper, const std::string& variant) {
  const PaperArea want = paper.area.value_or(PaperArea{});
  int found = -1;
  for (size_t i = 0; i < member.capabilities.papers.size(); ++i) {
    const PaperArea a = member.capabilities.papers[i].area.value_or(PaperArea{});
    if (a.width_um <= 0 || std::abs(a.width_um - want.width_um) > 1000 ||
        std::abs(a.height_um - want.height_um) > 1000 || member.variants[i] != variant) {
      continue;
    }
    if (member.capabilities.papers[i].key == paper.key) return static_cast<int>(i);
    if (found < 0) found = static_cast<int>(i);
  }
  return found;
}

// "54.0", in every locale.
std::string Millimetres(int32_t thousandths) {
  const long tenths = std::lround(thousandths / 100.0);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

CupsSpooler::Detail CupsSpooler::MergeMembers(Detail merged, const std::vector<std::string>& names,
                                              const std::vector<Detail>& members) {
  if (members.empty()) return merged;
  const Detail& first = members.front();
  merged.capabilities.papers = first.capabilities.papers;
  merged.variants = first.variants;
  merged.default_paper = first.default_paper;
  merged.capabilities.dpi_x = first.capabilities.dpi_x;
  merged.capabilities.dpi_y = first.capabilities.dpi_y;
  merged.capabilities.color = first.capabilities.color;
  merged.capabilities.copies_max = first.capabilities.copies_max;
  merged.custom_sizes = true;
  merged.sides = first.sides;
  merged.driverless =
      std::all_of(members.begin(), members.end(), [](const Detail& m) { return m.driverless; });
  merged.ppd = std::all_of(members.begin(), members.end(), [](const Detail& m) { return m.ppd; });
  merged.capabilities.bins.clear();
  merged.default_bin = -1;
  merged.disagreements.clear();
  // The class's own media database may be empty or another member's: its papers decide.
  merged.media.clear();
  for (const Detail& m : members) {
    merged.custom_sizes = merged.custom_sizes && m.custom_sizes;
    std::erase_if(merged.sides, [&](const std::string& side) {
      return std::find(m.sides.begin(), m.sides.end(), side) == m.sides.end();
    });
  }
  for (size_t p = 0; p < merged.capabilities.papers.size(); ++p) {
    PaperRecord& paper = merged.capabilities.papers[p];
    if (!paper.area || paper.area->width_um <= 0) continue;
    bool same_key = true;
    std::vector<std::string> lacking;
    for (size_t i = 1; i < members.size(); ++i) {
      const int at = SameSize(members[i], paper, merged.variants[p]);
      if (at < 0) {
        lacking.push_back(names[i]);
        continue;
      }
      const PaperArea& a = *members[i].capabilities.papers[static_cast<size_t>(at)].area;
      paper.area->left_um = std::max(paper.area->left_um, a.left_um);
      paper.area->top_um = std::max(paper.area->top_um, a.top_um);
      paper.area->right_um = std::max(paper.area->right_um, a.right_um);
      paper.area->bottom_um = std::max(paper.area->bottom_um, a.bottom_um);
      same_key = same_key && members[i].capabilities.papers[static_cast<size_t>(at)].key == paper.key;
    }
    // A size's name says nothing of a variant: a borderless paper keeps the first member's key.
    if ((!same_key || !lacking.empty()) && merged.variants[p].empty()) {
      const std::string pwg = SizeName(paper.area->width_um, paper.area->height_um);
      if (!pwg.empty()) paper.key = pwg;
    }
    if (!lacking.empty()) {
      std::string line = "\"" + paper.name + "\" " + Millimetres(paper.area->width_um) + " x " +
                         Millimetres(paper.area->height_um) + " mm: not on";
      for (size_t i = 0; i < lacking.size(); ++i) line += (i == 0 ? " \"" : ", \"") + lacking[i] + "\"";
      merged.disagreements.push_back(line + ", which print it on their default paper");
    }
  }
  // Only a bin every member has is a bin of the class.
  for (size_t b = 0; b < first.capabilities.bins.size(); ++b) {
    const BinRecord& bin = first.capabilities.bins[b];
    const bool everywhere = std::all_of(members.begin(), members.end(), [&](const Detail& m) {
      return std::any_of(m.capabilities.bins.begin(), m.capabilities.bins.end(),
                         [&](const BinRecord& other) { return other.key == bin.key; });
    });
    if (!everywhere) continue;
    if (static_cast<int>(b) == first.default_bin) {
      merged.default_bin = static_cast<int>(merged.capabilities.bins.size());
    }
    merged.capabilities.bins.push_back(bin);
  }
  return merged;
}

void CupsSpooler::Forget() {
  std::lock_guard<std::mutex> guard(lock_);
  kept_.clear();
}

CupsSpooler::Detail CupsSpooler::ReadDetail(const std::string& device) {
  const auto now = std::chrono::steady_clock::now();
  std::optional<Detail> kept;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = kept_.find(device);
    if (it != kept_.end()) {
      if (now - it->second.at < trust_for_) return it->second.detail;
      kept = it->second.detail;
    }
  }
  if (kept && kept->config_time != 0 && ConfigTime(device, kept->members) == kept->config_time) {
    std::lock_guard<std::mutex> guard(lock_);
    kept_[device] = Kept{*kept, now};
    return *kept;
  }
  try {
    Detail d = Query(device);
    std::lock_guard<std::mutex> guard(lock_);
    kept_[device] = Kept{d, now};
    return d;
  } catch (...) {
    Forget();
    throw;
  }
}

std::optional<int64_t> CupsSpooler::ConfigTime(const std::string& device,
                                               const std::vector<std::string>& members) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (std::chrono::steady_clock::now() < silent_until_) return std::nullopt;
  }
  int64_t latest = 0;
  std::vector<std::string> queues{device};
  queues.insert(queues.end(), members.begin(), members.end());
  for (const std::string& queue : queues) {
    static const char* const kAttributes[] = {"printer-config-change-time"};
    const std::string uri = UriOf(queue);
    ipp_t* answer = AskAboutJobs(device, [&] {
      ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
      ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr,
                    kAttributes);
      return request;
    });
    ipp_attribute_t* changed = answer != nullptr && ippGetStatusCode(answer) <= IPP_STATUS_OK_EVENTS_COMPLETE
                                   ? ippFindAttribute(answer, "printer-config-change-time", IPP_TAG_INTEGER)
                                   : nullptr;
    if (changed == nullptr) {
      ippDelete(answer);
      return std::nullopt;
    }
    latest = std::max<int64_t>(latest, ippGetInteger(changed, 0));
    ippDelete(answer);
  }
  return latest;
}

namespace {

// What a queue says of itself beyond its capabilities: a class's members and when it changed.
struct QueueFacts {
  std::vector<std::string> members;
  int64_t config_time = 0;
};

std::string DestUri(cups_dest_t* dest) {
  const char* uri = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
  return uri != nullptr ? uri : std::string();
}

QueueFacts FactsOf(http_t* http, cups_dest_t* dest, const std::string& device) {
  QueueFacts facts;
  const std::string uri = DestUri(dest);
  if (uri.empty()) return facts;
  static const char* const kAttributes[] = {"member-names", "printer-config-change-time",
                                            "printer-current-time"};
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kAttributes);
  ipp_t* answer = cupsDoRequest(http, request, ResourceOf(device).c_str());
  if (answer != nullptr && ippGetStatusCode(answer) <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    facts.members = Strings(ippFindAttribute(answer, "member-names", IPP_TAG_NAME));
    ipp_attribute_t* changed = ippFindAttribute(answer, "printer-config-change-time", IPP_TAG_INTEGER);
    ipp_attribute_t* now = ippFindAttribute(answer, "printer-current-time", IPP_TAG_DATE);
    // The time counts whole seconds: a change in the second of this answer could follow it
    // unseen, so such an answer is not kept by its time.
    if (changed != nullptr && now != nullptr &&
        ippGetInteger(changed, 0) < ippDateToTime(ippGetDate(now, 0))) {
      facts.config_time = ippGetInteger(changed, 0);
    }
  }
  ippDelete(answer);
  return facts;
}

}  // namespace

CupsSpooler::Detail CupsSpooler::Query(const std::string& device) {
  Http http = Connect(false, device);
  Detail d = QueryQueue(http.get(), device);
  if (d.members.empty()) return d;
  std::vector<Detail> members;
  for (const std::string& member : d.members) {
    Detail m = QueryQueue(http.get(), member);
    // An answer not to be kept by its time makes the class's not to be kept either.
    d.config_time = d.config_time == 0 || m.config_time == 0 ? 0 : std::max(d.config_time, m.config_time);
    members.push_back(std::move(m));
  }
  std::vector<std::string> names = d.members;
  return MergeMembers(std::move(d), names, members);
}

CupsSpooler::Detail CupsSpooler::QueryQueue(http_t* http, const std::string& device) {
  Dest dest = NamedDest(http, device);
  Info info(cupsCopyDestInfo(http, dest.get()));
  if (!info) {
    throw SpoolerError("The printer \"" + device + "\" reports no capabilities: " + LastError(),
                       LastErrorKind() == SpoolerError::Kind::kNoSuchPrinter
                           ? SpoolerError::Kind::kNoSuchPrinter
                           : SpoolerError::Kind::kUnavailable);
  }
  Detail d;
  const char* ppd_file = IsPrinterAddress(device) ? nullptr : cupsGetPPD2(http, device.c_str());
  if (ppd_file != nullptr) {
    std::string path = ppd_file;
    Ppd ppd(ppdOpenFile(path.c_str()));
    ::unlink(path.c_str());
    if (ppd) {
      ppdMarkDefaults(ppd.get());
      ReadFromPpd(ppd.get(), http, dest.get(), info.get(), d);
    }
  }
  const bool from_ppd = !d.capabilities.papers.empty() || !d.capabilities.bins.empty();
  d.ppd = from_ppd;
  if (!from_ppd) ReadFromIpp(http, dest.get(), info.get(), d);
  ReadMedia(http, dest.get(), info.get(), d);
  if (const char* model = cupsGetOption("printer-make-and-model", dest->num_options, dest->options)) {
    d.driver = model;
  }
  d.driverless = !from_ppd || d.driver.find("IPP Everywhere") != std::string::npos;
  if (ipp_attribute_t* copies = cupsFindDestSupported(http, dest.get(), info.get(), CUPS_COPIES)) {
    int upper = 1;
    if (ippGetValueTag(copies) == IPP_TAG_RANGE)
      ippGetRange(copies, 0, &upper);
    else
      upper = ippGetInteger(copies, 0);
    d.capabilities.copies_max = upper;
  }
  for (const std::string& mode :
       Strings(cupsFindDestSupported(http, dest.get(), info.get(), CUPS_PRINT_COLOR_MODE))) {
    if (mode == "color") d.capabilities.color = true;
  }
  d.sides = Strings(cupsFindDestSupported(http, dest.get(), info.get(), CUPS_SIDES));
  if (d.default_paper < 0) {
    cups_size_t def;
    if (cupsGetDestMediaDefault(http, dest.get(), info.get(), CUPS_MEDIA_FLAGS_DEFAULT, &def)) {
      const std::vector<PaperRecord>& papers = d.capabilities.papers;
      auto it = std::find_if(papers.begin(), papers.end(),
                             [&](const PaperRecord& p) { return p.key == def.media; });
      if (it != papers.end()) d.default_paper = static_cast<int>(it - papers.begin());
    }
  }
  const QueueFacts facts = FactsOf(http, dest.get(), device);
  d.members = facts.members;
  d.config_time = facts.config_time;
  d.info = std::shared_ptr<cups_dinfo_t>(info.release(), InfoFree());
  d.dest = std::shared_ptr<cups_dest_t>(dest.release(), DestFree());
  if (std::string uri = DestUri(d.dest.get()); !uri.empty()) {
    std::lock_guard<std::mutex> guard(lock_);
    uris_[device] = std::move(uri);
  }
  return d;
}

PrinterCapabilities CupsSpooler::Capabilities(const std::string& device) {
  return ReadDetail(device).capabilities;
}

std::unique_ptr<PrinterHandle> CupsSpooler::OpenPrinter(const std::string& device) {
  // The answer is kept: the settings and the measuring that follow an opening ask the same.
  try {
    ReadDetail(device);
  } catch (const SpoolerError& e) {
    if (e.NoSuchPrinter()) return nullptr;
    throw;
  }
  return std::make_unique<CupsPrinterHandle>(device);
}

std::optional<DeviceSettings> CupsSpooler::DefaultSettings(const PrinterHandle& printer) {
  Detail d;
  try {
    d = ReadDetail(printer.Device());
  } catch (const SpoolerError& e) {
    if (e.NoSuchPrinter()) return std::nullopt;
    throw;
  }
  DeviceSettings s;
  s.fields = DeviceSettings::fmOrientation | DeviceSettings::fmCopies | DeviceSettings::fmDuplex;
  const PrinterCapabilities& caps = d.capabilities;
  int paper = d.default_paper >= 0 ? d.default_paper : (caps.papers.empty() ? -1 : 0);
  if (paper >= 0) {
    s.fields |= DeviceSettings::fmPaperSize;
    s.paper_size = static_cast<int16_t>(caps.papers[paper].number);
  }
  // Only a driver's own default slot is a default source. CUPS names none for a queue without
  // a driver: the queue's default is then meant, and no source is sent.
  if (d.default_bin >= 0) {
    s.fields |= DeviceSettings::fmDefaultSource;
    s.default_source = static_cast<int16_t>(caps.bins[d.default_bin].number);
  }
  return s;
}

int CupsSpooler::SubmitPdf(const std::string& device, const std::string& title, std::string_view pdf,
                           const DeviceSettings& settings, const Detail& d) {
  // Cards come one after another: the connection of the last job serves the next one while it
  // is fresh (a server closes idle connections), and the queue's own answer names it.
  std::lock_guard<std::mutex> submitting(submit_lock_);
  const auto now = std::chrono::steady_clock::now();
  bool silent = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    silent = now < silent_until_;
  }
  if (!submit_http_ || submit_target_ != Target(device) || now - submit_used_ > kKeepFor || silent) {
    submit_http_.reset();
    submit_http_ = Connect(false, device);
    submit_target_ = Target(device);
  }
  submit_used_ = now;
  http_t* const connection = submit_http_.get();
  Dest named;
  cups_dest_t* dest = d.dest.get();
  if (dest == nullptr) {
    named = NamedDest(connection, device);
    dest = named.get();
  }
  Info fresh;
  cups_dinfo_t* info = d.info.get();
  if (info == nullptr) {
    fresh.reset(cupsCopyDestInfo(connection, dest));
    info = fresh.get();
  }
  const PrinterCapabilities& caps = d.capabilities;

  cups_option_t* options = nullptr;
  int n = 0;
  const PaperChoice paper = d.Choose(settings);
  if (!paper.media.empty()) {
    // A printer without a driver of its maker may know a medium only by its size: libcups names
    // a borderless size "..._borderless", which no printer lists. Such a medium goes as the
    // media-col of its size and margins, as IPP Everywhere asks.
    if (!d.ppd && !cupsCheckDestSupported(connection, dest, info, CUPS_MEDIA, paper.media.c_str())) {
      cups_size_t size{};
      std::snprintf(size.media, sizeof size.media, "%s", paper.media.c_str());
      const PaperArea& a = paper.area;
      size.width = static_cast<int>(std::lround(a.width_um / 10.0));
      size.length = static_cast<int>(std::lround(a.height_um / 10.0));
      size.left = static_cast<int>(std::lround(a.left_um / 10.0));
      size.top = static_cast<int>(std::lround(a.top_um / 10.0));
      size.right = static_cast<int>(std::lround(a.right_um / 10.0));
      size.bottom = static_cast<int>(std::lround(a.bottom_um / 10.0));
      n = cupsAddDestMediaOptions(connection, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &size, n, &options);
    }
    if (cupsGetOption("media-col", n, options) == nullptr)
      n = cupsAddOption(CUPS_MEDIA, paper.media.c_str(), n, &options);
  }
  // No orientation-requested: every PDF page already has the shape of the paper as it is meant
  // to be seen, and the queue's filter turns it onto the sheet by itself. Asking for landscape
  // as well makes the filter turn it twice, upside down.
  if (settings.Has(DeviceSettings::fmDuplex)) {
    const char* sides = settings.duplex == 2   ? CUPS_SIDES_TWO_SIDED_PORTRAIT
                        : settings.duplex == 3 ? CUPS_SIDES_TWO_SIDED_LANDSCAPE
                                               : CUPS_SIDES_ONE_SIDED;
    // A printer without a sides choice prints one-sided anyway.
    if (std::find(d.sides.begin(), d.sides.end(), sides) != d.sides.end()) {
      n = cupsAddOption(CUPS_SIDES, sides, n, &options);
    }
  }
  if (settings.Has(DeviceSettings::fmDefaultSource)) {
    // The spooler takes an unknown source without a word, so only listed sources are sent.
    const int at = caps.BinAt(static_cast<uint16_t>(settings.default_source));
    if (at >= 0)
      n = cupsAddOption(CUPS_MEDIA_SOURCE, caps.bins[static_cast<size_t>(at)].key.c_str(), n, &options);
  }
  n = cupsAddOption(CUPS_COPIES, "1", n, &options);

  int job_id = 0;
  auto fail = [&](const std::string& what) {
    std::string message = what + ": " + LastError();
    SpoolerError::Kind kind = LastErrorKind();
    if (job_id > 0) cupsCancelDestJob(connection, dest, job_id);
    cupsFreeOptions(n, options);
    // The next job asks everything afresh, on a connection of its own.
    submit_http_.reset();
    Forget();
    throw SpoolerError(message, kind);
  };
  if (cupsCreateDestJob(connection, dest, info, &job_id, title.c_str(), n, options) >
      IPP_STATUS_OK_EVENTS_COMPLETE) {
    job_id = 0;
    fail("The printer \"" + device + "\" refused the job");
  }
  if (JobWatch* watch = Find<JobWatch>()) {
    try {
      watch->JobCreated(device, job_id);
    } catch (...) {
      // Nothing of this job may print while nobody knows of it.
      cupsCancelDestJob(connection, dest, job_id);
      cupsFreeOptions(n, options);
      submit_http_.reset();
      Forget();
      throw;
    }
  }
  if (cupsStartDestDocument(connection, dest, info, job_id, title.c_str(), CUPS_FORMAT_PDF, 0, nullptr, 1) !=
      HTTP_STATUS_CONTINUE) {
    fail("The printer \"" + device + "\" refused the document");
  }
  if (cupsWriteRequestData(connection, pdf.data(), pdf.size()) != HTTP_STATUS_CONTINUE) {
    cupsFinishDestDocument(connection, dest, info);
    fail("The document could not be sent to \"" + device + "\"");
  }
  if (cupsFinishDestDocument(connection, dest, info) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    fail("The printer \"" + device + "\" refused the document");
  }
  cupsFreeOptions(n, options);
  ConfirmDocument(device, job_id);
  return job_id;
}

// An upload that stalled answers with the status of the job's creation: only the job tells
// whether its document arrived. A job without one is cancelled, so that it prints nothing later.
void CupsSpooler::ConfirmDocument(const std::string& device, int job_id) {
  JobStatus status;
  try {
    status = Status(device, job_id);
  } catch (const SpoolerError& e) {
    throw SpoolerError("Whether the document of job " + std::to_string(job_id) + " reached the printer \"" +
                       device + "\" cannot be told: " + e.what());
  }
  if (status.state != JobStatus::State::kUnknown && status.documents > 0) return;
  if (!status.Ended()) {
    try {
      Cancel(device, job_id);
    } catch (const SpoolerError&) {
      // It is cancelled at the next look at this job.
    }
  }
  throw SpoolerError("The document of job " + std::to_string(job_id) + " did not reach the printer \"" +
                     device + "\"; the job was cancelled");
}

ipp_t* CupsSpooler::AskAboutJobs(const std::string& device, const std::function<ipp_t*()>& make) {
  std::lock_guard<std::mutex> guard(jobs_lock_);
  if (jobs_target_ != Target(device)) jobs_http_.reset();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!jobs_http_) {
      jobs_http_ = Connect(/*even_if_silent=*/true, device);
      jobs_target_ = Target(device);
    }
    ipp_t* answer = cupsDoRequest(jobs_http_.get(), make(), ResourceOf(device).c_str());
    if (answer != nullptr) return answer;
    jobs_http_.reset();
    // Only a connection the server closed since the last look earns a second try.
    if (attempt > 0 || cupsLastError() != IPP_STATUS_ERROR_SERVICE_UNAVAILABLE) break;
  }
  return nullptr;
}

namespace {

std::string JobUri(int job_id) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d", job_id);
  return uri;
}

std::string PrinterUri(const std::string& device) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                   device.c_str());
  return uri;
}

// A job on CUPS by its own address; a job on a printer reached by its address by the printer's
// address and the job's number.
ipp_t* JobRequest(ipp_op_t op, const std::string& device, int job_id) {
  ipp_t* request = ippNewRequest(op);
  if (IsPrinterAddress(device)) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, device.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  } else {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, JobUri(job_id).c_str());
  }
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

ipp_t* PrinterRequest(ipp_op_t op, const std::string& uri) {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  return request;
}

std::vector<std::string> Reasons(ipp_t* answer, const char* name) {
  std::vector<std::string> reasons;
  for (const std::string& r : Strings(ippFindAttribute(answer, name, IPP_TAG_KEYWORD))) {
    if (r != "none") reasons.push_back(r);
  }
  return reasons;
}

std::string Text(ipp_t* answer, const char* name) {
  ipp_attribute_t* attr = ippFindAttribute(answer, name, IPP_TAG_ZERO);
  const char* value = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
  return value != nullptr ? value : std::string();
}

JobStatus::State StateOf(int job_state) {
  switch (job_state) {
    case IPP_JSTATE_PENDING:
      return JobStatus::State::kPending;
    case IPP_JSTATE_HELD:
      return JobStatus::State::kHeld;
    case IPP_JSTATE_PROCESSING:
      return JobStatus::State::kProcessing;
    case IPP_JSTATE_STOPPED:
      return JobStatus::State::kStopped;
    case IPP_JSTATE_CANCELED:
      return JobStatus::State::kCanceled;
    case IPP_JSTATE_ABORTED:
      return JobStatus::State::kAborted;
    case IPP_JSTATE_COMPLETED:
      return JobStatus::State::kCompleted;
    default:
      return JobStatus::State::kUnknown;
  }
}

}  // namespace

// A class is asked at its own address, /classes/NAME, which its answer gave.
std::string CupsSpooler::UriOf(const std::string& device) {
  if (IsPrinterAddress(device)) return device;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = uris_.find(device);
    if (it != uris_.end()) return it->second;
  }
  return PrinterUri(device);
}

JobStatus CupsSpooler::Status(const std::string& device, int job_id) {
  static const char* const kJobAttributes[] = {"job-state", "job-state-reasons", "job-printer-state-message",
                                               "number-of-documents"};
  ipp_t* answer = AskAboutJobs(device, [&] {
    ipp_t* request = JobRequest(IPP_OP_GET_JOB_ATTRIBUTES, device, job_id);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                  kJobAttributes);
    return request;
  });
  if (answer == nullptr) {
    throw SpoolerError("CUPS did not answer about job " + std::to_string(job_id) + ": " + LastError());
  }
  JobStatus status;
  const ipp_status_t code = ippGetStatusCode(answer);
  if (code == IPP_STATUS_ERROR_NOT_FOUND) {
    ippDelete(answer);
    return status;  // unknown
  }
  if (code > IPP_STATUS_OK_EVENTS_COMPLETE) {
    const std::string message = LastError();
    ippDelete(answer);
    throw SpoolerError("CUPS refused to tell about job " + std::to_string(job_id) + ": " + message,
                       SpoolerError::Kind::kRefused);
  }
  ipp_attribute_t* state = ippFindAttribute(answer, "job-state", IPP_TAG_ENUM);
  status.state = state != nullptr ? StateOf(ippGetInteger(state, 0)) : JobStatus::State::kUnknown;
  ipp_attribute_t* documents = ippFindAttribute(answer, "number-of-documents", IPP_TAG_INTEGER);
  // A printer that does not count a job's documents is taken at its word: a job it knows has
  // its document.
  status.documents = documents != nullptr                         ? ippGetInteger(documents, 0)
                     : status.state != JobStatus::State::kUnknown ? 1
                                                                  : 0;
  status.job_reasons = Reasons(answer, "job-state-reasons");
  status.job_message = Text(answer, "job-printer-state-message");
  ippDelete(answer);
  // A job that failed may have failed on what the queue answered: the next asks afresh.
  if (status.state == JobStatus::State::kAborted || status.state == JobStatus::State::kStopped) Forget();
  // A job on its way needs no word from its printer: the looks while a card prints cost one
  // request each.
  if (status.state == JobStatus::State::kProcessing || status.state == JobStatus::State::kCompleted) {
    return status;
  }

  const std::string uri = UriOf(device);
  static const char* const kPrinterAttributes[] = {"printer-state", "printer-state-reasons",
                                                   "printer-state-message", "printer-is-accepting-jobs"};
  answer = AskAboutJobs(device, [&] {
    ipp_t* request = PrinterRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr,
                  kPrinterAttributes);
    return request;
  });
  // The job's own state is what counts; the printer's words only explain it.
  if (answer != nullptr && ippGetStatusCode(answer) <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    ipp_attribute_t* printer_state = ippFindAttribute(answer, "printer-state", IPP_TAG_ENUM);
    status.printer_stopped =
        printer_state != nullptr && ippGetInteger(printer_state, 0) == IPP_PSTATE_STOPPED;
    ipp_attribute_t* accepting = ippFindAttribute(answer, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    status.printer_accepting = accepting == nullptr || ippGetBoolean(accepting, 0) != 0;
    status.printer_reasons = Reasons(answer, "printer-state-reasons");
    status.printer_message = Text(answer, "printer-state-message");
  }
  ippDelete(answer);
  return status;
}

void CupsSpooler::Cancel(const std::string& device, int job_id) {
  ipp_t* answer = AskAboutJobs(device, [&] { return JobRequest(IPP_OP_CANCEL_JOB, device, job_id); });
  if (answer == nullptr) {
    throw SpoolerError("CUPS did not answer the cancel of job " + std::to_string(job_id) + ": " +
                       LastError());
  }
  const ipp_status_t code = ippGetStatusCode(answer);
  ippDelete(answer);
  // A job that has ended, or that CUPS no longer knows, prints nothing more either way.
  if (code <= IPP_STATUS_OK_EVENTS_COMPLETE || code == IPP_STATUS_ERROR_NOT_POSSIBLE ||
      code == IPP_STATUS_ERROR_NOT_FOUND) {
    return;
  }
  throw SpoolerError("CUPS refused to cancel job " + std::to_string(job_id) + ": " + LastError(),
                     SpoolerError::Kind::kRefused);
}

std::vector<int> CupsSpooler::EmptyJobsSince(const std::string& device, int64_t since) {
  static const char* const kAttributes[] = {"job-id", "time-at-creation", "number-of-documents"};
  const std::string uri = UriOf(device);
  ipp_t* answer = AskAboutJobs(device, [&] {
    ipp_t* request = PrinterRequest(IPP_OP_GET_JOBS, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  kAttributes);
    return request;
  });
  if (answer == nullptr || ippGetStatusCode(answer) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    const std::string message = LastError();
    ippDelete(answer);
    throw SpoolerError("CUPS did not list the jobs of \"" + device + "\": " + message);
  }
  std::vector<int> empty;
  int id = 0;
  int64_t created = 0;
  int documents = -1;  // -1: the printer does not count them, and the job is taken at its word
  // The answer lists each job's attributes in a group of their own.
  auto flush = [&] {
    if (id > 0 && created >= since && documents == 0) empty.push_back(id);
    id = 0;
    created = 0;
    documents = -1;
  };
  for (ipp_attribute_t* attr = ippFirstAttribute(answer); attr != nullptr; attr = ippNextAttribute(answer)) {
    if (ippGetName(attr) == nullptr) {
      flush();
      continue;
    }
    const std::string_view name = ippGetName(attr);
    if (name == "job-id") {
      id = ippGetInteger(attr, 0);
    } else if (name == "time-at-creation") {
      created = ippGetInteger(attr, 0);
    } else if (name == "number-of-documents") {
      documents = ippGetInteger(attr, 0);
    }
  }
  flush();
  ippDelete(answer);
  return empty;
}

}  // namespace parvel::platform::linux_os
