// parvel-printers: prints the printer list as the report engine sees it, so a user can learn
// what to write in the agent's printer setting and whether the card paper is matched.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <QGuiApplication>

#include "platform/linux/cups_spooler.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/qt_drawing_surface.h"
#include "platform/services.h"
#include "platform/text.h"
#include "report/output/printer_list.h"
#include "report/output/printer_setup.h"

namespace {

using namespace parvel;

// "209.9" in every locale, like the card size printed beside it.
std::string Millimetres(const std::string& tenths) {
  const int v = text::ToInt(tenths);
  return (v < 0 ? "-" : "") + std::to_string(std::abs(v) / 10) + "." + std::to_string(std::abs(v) % 10);
}

// Position of the paper the CR80 card (85.7 by 54.0 mm, landscape) resolves to, by the printer
// setup's own size rule; -1 when none matches (the card then prints on "Custom").
int CardPaper(const report::TppPrinterInfo& info, const report::TppPrinterCapabilities& caps) {
  report::TppPrinterSetup setup;
  setup.SetPrinterName(info.Name());
  setup.SetUnits(report::utMillimeters);
  setup.SetOrientation(report::poLandscape);
  const std::string name = setup.PaperNameForSize(85.7f, 54.0f);
  if (name == "Custom") return -1;
  for (size_t i = 0; i < caps.PaperNames.size() && i < caps.Papers.size(); ++i) {
    if (caps.PaperNames[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// "2.1", in every locale.
std::string Millimetres(int32_t thousandths) {
  const long tenths = std::lround(thousandths / 100.0);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// What the queue is, and the medium a card's job asks for there with its sheet and margins, as
// the agent sends it.
void DescribeQueue(platform::linux_os::CupsSpooler& spooler, const std::string& device,
                   const platform::DeviceSettings& card) {
  platform::linux_os::CupsSpooler::Detail d;
  try {
    d = spooler.ReadDetail(device);
  } catch (const platform::SpoolerError& e) {
    std::cout << "  Queue: cannot be asked (" << e.what() << ")\n";
    return;
  }
  if (!d.members.empty()) {
    std::cout << "  Class of:";
    for (size_t i = 0; i < d.members.size(); ++i) std::cout << (i == 0 ? " " : ", ") << d.members[i];
    std::cout << " (each job prints on one of them; papers, margins and bins are the ones all share)\n";
    for (const std::string& line : d.disagreements) std::cout << "  Members disagree: " << line << "\n";
  }
  std::cout << "  Driver: " << (d.driver.empty() ? std::string("(none named)") : d.driver)
            << (d.driverless ? " (driverless: papers from the printer's media database)" : "") << "\n";
  const platform::linux_os::CupsSpooler::PaperChoice medium = d.Choose(card);
  const platform::PaperArea& a = medium.area;
  std::cout << "  Card medium: "
            << (medium.media.empty() ? std::string("(the queue's default)") : medium.media) << ", "
            << Millimetres(a.width_um) << " x " << Millimetres(a.height_um) << " mm, margins "
            << Millimetres(a.left_um) << " " << Millimetres(a.top_um) << " " << Millimetres(a.right_um) << " "
            << Millimetres(a.bottom_um) << " mm (left, top, right, bottom, portrait)\n";
}

void Describe(report::TppPrinterInfo& info, platform::SurfaceFactory& surfaces,
              platform::linux_os::CupsSpooler& spooler) {
  std::cout << "\nPrinter \"" << info.Name() << "\"";
  if (info.Device()) std::cout << " (device " << *info.Device();
  if (info.Port() && !info.Port()->empty()) std::cout << ", port " << *info.Port();
  std::cout << (info.IsLocal() ? ", local" : ", network") << ")\n";
  report::TppPrinterCapabilities& caps = info.GetCapabilities();
  std::cout << "  Papers (number, name, width x height mm):\n";
  for (size_t i = 0; i < caps.PaperNames.size(); ++i) {
    std::cout << "    " << (i < caps.Papers.size() ? caps.Papers[i] : "?") << "  " << caps.PaperNames[i]
              << "  " << (i < caps.PaperWidths.size() ? Millimetres(caps.PaperWidths[i]) : "?") << " x "
              << (i < caps.PaperHeights.size() ? Millimetres(caps.PaperHeights[i]) : "?") << "\n";
  }
  std::cout << "  Bins (number, name):\n";
  for (size_t i = 0; i < caps.BinNames.size(); ++i) {
    std::cout << "    " << (i < caps.Bins.size() ? caps.Bins[i] : "?") << "  " << caps.BinNames[i] << "\n";
  }
  int card = CardPaper(info, caps);
  platform::DeviceSettings settings;
  settings.fields = platform::DeviceSettings::fmOrientation;
  if (card >= 0) {
    settings.fields |= platform::DeviceSettings::fmPaperSize;
    settings.orientation = 2;
    settings.paper_size = static_cast<int16_t>(text::ToInt(caps.Papers[static_cast<size_t>(card)]));
  }
  if (auto ic = info.Device()
                    ? surfaces.CreateInformationContext(*info.Device(), card >= 0 ? &settings : nullptr)
                    : nullptr) {
    platform::SurfaceMetrics m = ic->Metrics();
    std::cout << "  Resolution: " << m.dpi_x << " x " << m.dpi_y << " dpi\n";
    std::cout << "  Physical offsets: " << m.offset_x << ", " << m.offset_y << " pixels"
              << (card >= 0 ? " (card paper, landscape)" : " (default paper)") << "\n";
  } else {
    std::cout << "  Resolution: unavailable (the printer cannot be opened)\n";
  }
  platform::DeviceSettings sent = settings;
  if (card < 0) {
    // No paper of the card's size: the job carries the size itself, as the agent's does.
    sent.fields |= platform::DeviceSettings::fmPaperSize | platform::DeviceSettings::fmPaperWidth |
                   platform::DeviceSettings::fmPaperLength;
    sent.orientation = 2;
    sent.paper_size = platform::DeviceSettings::kCustomPaper;
    sent.paper_width = 540;
    sent.paper_length = 857;
  }
  if (info.Device()) DescribeQueue(spooler, *info.Device(), sent);
  if (card >= 0) {
    std::cout << "  Card 85.7 x 54.0 mm landscape: \"" << caps.PaperNames[static_cast<size_t>(card)]
              << "\" (number " << caps.Papers[static_cast<size_t>(card)] << ")\n";
  } else {
    std::cout << "  Card 85.7 x 54.0 mm landscape: no paper of this size; prints as \"Custom\"\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  platform::linux_os::LinuxPlatform os(/*with_pump=*/false);
  platform::linux_os::CupsSpooler spooler;
  platform::linux_os::QtSurfaceFactory surfaces(spooler);
  platform::ScopedInstall<platform::Spooler> installed(&spooler);
  platform::ScopedInstall<platform::SurfaceFactory> installed_surfaces(&surfaces);
  try {
    spooler.Printers();
  } catch (const platform::SpoolerError& e) {
    std::cerr << "parvel-printers: no CUPS server answers: " << e.what() << "\n";
    return 1;
  }
  report::TppPrinterList& list = report::PrinterList();
  std::cout << "Printer list:\n";
  for (const std::string& name : list.PrinterNames()) std::cout << "  " << name << "\n";
  std::cout << "Default printer: "
            << (list.DefaultPrinterName().empty() ? std::string("(none)") : list.DefaultPrinterName())
            << "\n";
  for (int i = 2; i < list.Count(); ++i) Describe(*list.Entry(i), surfaces, spooler);
  return 0;
}
