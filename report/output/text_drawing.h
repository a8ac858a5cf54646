#pragma once
// Renders a text command on the printer canvas, at the printer's resolution, inside the device
// rectangle the device has already set on the command.
#include <string>
#include <vector>

#include "report/base/units.h"

namespace parvel::report {

class TppDrawText;
class TppPrinterCanvas;

// Tab stops of a memo in printer pixels: entries that are not decimal integers are skipped,
// at most 100 are used. None for a command that is not a memo.
std::vector<int> TextTabStops(const TppDrawText& command, const TppResolutionSource* printer);

// Round to nearest, halves to even.
long RoundHalfEven(long double value);

// Draws `command` on `canvas`; `printer` gives the resolution for tab stops and leading. With
// AutoSize the command's device rectangle takes the drawn extent.
void DrawTextCommand(TppDrawText& command, TppPrinterCanvas& canvas, const TppResolutionSource* printer);

}  // namespace parvel::report
