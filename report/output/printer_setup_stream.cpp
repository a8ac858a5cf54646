#include "report/output/printer_setup.h"

// Kept apart from the setup itself: code that copies setups around does not need the stream.
#include <string>

#include "report/base/component.h"
#include "report/base/stream.h"

namespace parvel::report {

void TppPrinterSetup::WriteProperties(TWriter& writer, std::string_view prefix,
                                      const TppPrinterSetup* ancestor) const {
  auto name = [&](std::string_view n) { writer.WritePropName(std::string(prefix) + std::string(n)); };
  if (!bin_name_.empty()) {
    name("BinName");
    writer.WriteString(bin_name_);
  }
  if (!collation_) {
    name("Collation");
    writer.WriteBoolean(collation_);
  }
  if (copies_ != 1) {
    name("Copies");
    writer.WriteInteger(copies_);
  }
  if (!document_name_.empty()) {
    name("DocumentName");
    writer.WriteString(document_name_);
  }
  if (duplex_ != dpNone) {
    name("Duplex");
    writer.WriteIdent(DuplexTypeName(duplex_));
  }
  if (orientation_ != poPortrait) {
    name("Orientation");
    writer.WriteIdent(OrientationName(orientation_));
  }
  if (const std::string& paper = PaperName(); !paper.empty()) {
    name("PaperName");
    writer.WriteString(paper);
  }
  if (!printer_name_.empty()) {
    name("PrinterName");
    writer.WriteString(printer_name_);
  }
  const TppPageDef& p = page_def_;
  const TppPageDef* a = ancestor != nullptr ? &ancestor->page_def_ : nullptr;
  auto length = [&](std::string_view n, int32_t value, int32_t (TppPageDef::*get)() const) {
    if (a != nullptr && (a->*get)() == value) return;
    name(n);
    writer.WriteInteger(value);
  };
  length("mmMarginBottom", p.mmMarginBottom(), &TppPageDef::mmMarginBottom);
  length("mmMarginLeft", p.mmMarginLeft(), &TppPageDef::mmMarginLeft);
  length("mmMarginRight", p.mmMarginRight(), &TppPageDef::mmMarginRight);
  length("mmMarginTop", p.mmMarginTop(), &TppPageDef::mmMarginTop);
  length("mmPaperHeight", p.mmHeight(), &TppPageDef::mmHeight);
  length("mmPaperWidth", p.mmWidth(), &TppPageDef::mmWidth);
  const uint16_t number = GetPaperNumber();
  if (ancestor == nullptr || ancestor->GetPaperNumber() != number) {
    name("PaperSize");
    writer.WriteInteger(number);
  }
}

bool TppPrinterSetup::ReadProperty(const std::string& name, TReader& reader) {
  if (name == "BinName") {
    SetBinName(reader.ReadString());
  } else if (name == "Collation") {
    SetCollation(reader.ReadBoolean());
  } else if (name == "Copies") {
    SetCopies(reader.ReadInteger());
  } else if (name == "DocumentName") {
    SetDocumentName(reader.ReadString());
  } else if (name == "Duplex") {
    const int line = reader.Line();
    const std::string ident = reader.ReadIdent();
    if (SameText(ident, "dpNone")) {
      SetDuplex(dpNone);
    } else if (SameText(ident, "dpHorizontal")) {
      SetDuplex(dpHorizontal);
    } else if (SameText(ident, "dpVertical")) {
      SetDuplex(dpVertical);
    } else {
      reader.ErrorAt(line, "invalid property value " + ident);
    }
  } else if (name == "Orientation") {
    const int line = reader.Line();
    const std::string ident = reader.ReadIdent();
    if (SameText(ident, "poPortrait")) {
      SetOrientation(poPortrait);
    } else if (SameText(ident, "poLandscape")) {
      SetOrientation(poLandscape);
    } else {
      reader.ErrorAt(line, "invalid property value " + ident);
    }
  } else if (name == "PaperName") {
    SetPaperName(reader.ReadString());
  } else if (name == "PrinterName") {
    SetPrinterName(reader.ReadString());
  } else if (name == "PaperWidth") {
    SetPaperWidth(static_cast<float>(reader.ReadFloat()));
  } else if (name == "PaperHeight") {
    SetPaperHeight(static_cast<float>(reader.ReadFloat()));
  } else if (name == "MarginBottom") {
    SetMarginBottom(static_cast<float>(reader.ReadFloat()));
  } else if (name == "MarginLeft") {
    SetMarginLeft(static_cast<float>(reader.ReadFloat()));
  } else if (name == "MarginRight") {
    SetMarginRight(static_cast<float>(reader.ReadFloat()));
  } else if (name == "MarginTop") {
    SetMarginTop(static_cast<float>(reader.ReadFloat()));
  } else if (name == "mmMarginBottom") {
    page_def_.SetmmMarginBottom(ReadMMValue(reader));
  } else if (name == "mmMarginLeft") {
    page_def_.SetmmMarginLeft(ReadMMValue(reader));
  } else if (name == "mmMarginRight") {
    page_def_.SetmmMarginRight(ReadMMValue(reader));
  } else if (name == "mmMarginTop") {
    page_def_.SetmmMarginTop(ReadMMValue(reader));
  } else if (name == "mmPaperHeight") {
    page_def_.SetmmHeight(ReadMMValue(reader));
  } else if (name == "mmPaperWidth") {
    page_def_.SetmmWidth(ReadMMValue(reader));
  } else if (name == "PaperSize") {
    pending_paper_number_ = static_cast<uint16_t>(ReadMMValue(reader));
  } else {
    return false;
  }
  return true;
}

}  // namespace parvel::report
