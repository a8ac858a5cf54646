#pragma once
// The printer doubles of the platform installed for one scope (a test case, a fixture), with a
// shared printer list built from them: each case starts from printers of its own choosing and a
// fresh log, and whatever was installed before comes back after.
#include <string>
#include <utility>
#include <vector>

#include "platform/screen_surface.h"
#include "platform/services.h"
#include "platform/spooler.h"
#include "platform/testing/screen_surface_double.h"
#include "platform/testing/spooler_double.h"
#include "report/output/printer_list.h"

namespace parvel::doubles {

class ScopedPrinters {
 public:
  ScopedPrinters(std::vector<platform::doubles::DoublePrinter> printers, std::string default_device)
      : spooler(std::move(printers), std::move(default_device)) {}

  const std::vector<std::string>& Calls() const { return surfaces.log->calls; }
  std::vector<std::string> CallsOf(const std::string& kind) const { return surfaces.log->CallsOf(kind); }

  platform::doubles::SpoolerDouble spooler;
  platform::doubles::SurfaceFactoryDouble surfaces{spooler};
  platform::doubles::FixedScreenSurfaceFactory screen;

 private:
  platform::ScopedInstall<platform::Spooler> spooler_installed_{&spooler};
  platform::ScopedInstall<platform::SurfaceFactory> surfaces_installed_{&surfaces};
  platform::ScopedInstall<platform::ScreenSurfaceFactory> screen_installed_{&screen};
  // Last, so it goes first: the list and the default printer let go of the surfaces before the
  // doubles are taken away.
  report::ScopedPrinterList list_;
};

// "Card" (the colour card printer), the default and only printer.
class OneCardPrinter : public ScopedPrinters {
 public:
  OneCardPrinter() : ScopedPrinters({platform::doubles::CardPrinter("Card")}, "Card") {}
};

// "Card" (the colour card printer, the default) and "Wide".
class CardAndWidePrinters : public ScopedPrinters {
 public:
  CardAndWidePrinters()
      : ScopedPrinters({platform::doubles::CardPrinter("Card"), platform::doubles::WidePrinter("Wide")},
                       "Card") {}
};

// "Card" (the monochrome card printer), "Office" (the default) and "Empty", whose driver reports
// nothing.
class OfficePrinters : public ScopedPrinters {
 public:
  OfficePrinters()
      : ScopedPrinters(
            {platform::doubles::MonoCardPrinter("Card"), platform::doubles::OfficePrinter("Office"),
             platform::doubles::SilentPrinter("Empty")},
            "Office") {}
};

}  // namespace parvel::doubles
