#pragma once
// The card layout as the agent stores it.
#include <string_view>

namespace parvel::agent {

// The card as the form stores it: CR80 landscape without margins, a header and footer that take
// no room and a detail band with eight labels in "Arial Black" 9 points. Reading it through the
// stream format gives the report its stored version and paper number, as a stored form would.
inline constexpr std::string_view kCardLayout = R"(object rParvel: TppReport
  DeviceType = 'Printer'
  PrinterSetup.BinName = 'Default'
  PrinterSetup.DocumentName = 'Report'
  PrinterSetup.Orientation = poLandscape
  PrinterSetup.PaperName = 'CR80 2.13 x 3.38 in'
  PrinterSetup.PrinterName = 'Default'
  PrinterSetup.mmMarginBottom = 0
  PrinterSetup.mmMarginLeft = 0
  PrinterSetup.mmMarginRight = 0
  PrinterSetup.mmMarginTop = 0
  PrinterSetup.mmPaperHeight = 54000
  PrinterSetup.mmPaperWidth = 85700
  PrinterSetup.PaperSize = 120
  ShowCancelDialog = False
  ShowPrintDialog = False
  Units = utMillimeters
  Version = '7.0'
  mmColumnWidth = 0
  object ppHeaderBand1: TppHeaderBand
    mmBottomOffset = 0
    mmHeight = 0
    mmPrintPosition = 0
  end
  object ppDetailBand1: TppDetailBand
    mmBottomOffset = 0
    mmHeight = 52388
    mmPrintPosition = 0
    object ppLabel1: TppLabel
      UserName = 'Label1'
      Caption = 'Label1'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 1852
      mmWidth = 11906
      BandType = 4
    end
    object ppLabel2: TppLabel
      UserName = 'Label2'
      Caption = 'Label2'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 7144
      mmWidth = 11906
      BandType = 4
    end
    object ppLabel3: TppLabel
      UserName = 'Label3'
      Caption = 'Label3'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 12965
      mmWidth = 11906
      BandType = 4
    end
    object ppLabel4: TppLabel
      UserName = 'Label4'
      Caption = 'Label4'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      TextAlignment = taRightJustified
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 18256
      mmWidth = 11906
      BandType = 4
    end
    object ppLabel5: TppLabel
      UserName = 'Label5'
      Caption = 'Label5'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      TextAlignment = taRightJustified
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 23813
      mmWidth = 11906
      BandType = 4
    end
    object ppLabel6: TppLabel
      UserName = 'Label6'
      Caption = 'Label6'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      TextAlignment = taRightJustified
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 28575
      mmWidth = 11906
      BandType = 4
    end
    object ppLabel7: TppLabel
      UserName = 'Label7'
      Caption = 'Label7'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      TextAlignment = taRightJustified
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 33867
      mmWidth = 11906
      BandType = 4
    end
    object ppLabel8: TppLabel
      UserName = 'Label8'
      Caption = 'Label8'
      Font.Charset = 1
      Font.Color = 0
      Font.Name = 'Arial Black'
      Font.Size = 9
      Font.Style = []
      TextAlignment = taRightJustified
      Transparent = True
      mmHeight = 4498
      mmLeft = 8731
      mmTop = 38894
      mmWidth = 11906
      BandType = 4
    end
  end
  object ppFooterBand1: TppFooterBand
    mmBottomOffset = 0
    mmHeight = 0
    mmPrintPosition = 0
  end
end
)";

}  // namespace parvel::agent
