#pragma once
// For an integration test program that prints on the private cupsd: including this header makes
// the server the program's test environment (started before the first test and always stopped),
// and gives what those programs share: the card queue and the tolerance of printed positions.
#include <gtest/gtest.h>

#include <vector>

#include "report/output/printer_list.h"
#include "tests/support/cups_server.h"

namespace parvel::doubles {

// Registered once for the program, however many of its files include this header.
inline const ::testing::Environment* const kCupsEnvironment =
    ::testing::AddGlobalTestEnvironment(new CupsEnvironment);

// How near a printed text must lie to where it was put: 0.2 mm, in PDF points.
inline constexpr double kPrintTolerance = 0.2 * kPointsPerMm;

// The card queue "cards" (a CR80 card printer whose output is a PDF file), added the first time a
// test asks for it, and the shared printer list built with it from the spooler the platform
// installed.
inline void UseCardQueue() {
  static const bool added = [] {
    CupsEnvironment::Server().AddQueue("cards", "card_cr80.ppd");
    report::PrinterList();
    return true;
  }();
  (void)added;
}

// The jobs the card queue has seen, oldest first.
inline std::vector<int> CardJobIds() { return CupsEnvironment::Server().JobIds("cards"); }

}  // namespace parvel::doubles
