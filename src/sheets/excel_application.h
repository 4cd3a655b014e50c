// The engine's application object for the automation runtime, registered under the
// ProgID "Excel.Application": Application, Workbooks, Workbook, Sheets and Sheet
// objects answering the members the converter calls (Version, DisplayAlerts,
// Workbooks, Open, Count, SaveAs, Sheets, Worksheets, ActiveSheet, Close,
// HasVBProject, Name, FullName, Item, Index, Visible, Quit, Path).
#pragma once

#include "platform/automation.h"

namespace sheets {

// The CSV file format number that SaveAs accepts.
inline constexpr int kCsvFileFormat = 6;

// Registers the factory under "Excel.Application" (replacing any earlier one).
void register_excel_application();

// A new application object (what the registered factory creates).
platform::automation::ObjectPtr create_excel_application();

}  // namespace sheets
