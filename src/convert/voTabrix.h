// The product's converter: every worker of a run is a TvoTabrix, which turns one
// workbook into CSV files through the spreadsheet application.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "convert/voExcelOle.h"

class TvoProject;

class TvoTabrix : public TvoExcelOle {
 public:
  TvoTabrix(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount, TvoNodeEvent OnNode);

  // Names the target (an error of the naming is raised to the worker loop; an
  // empty name skips the entry), opens the workbook, deletes the old target, saves
  // the sheets that "AllSheets" and "Sheet" choose, closes the workbook, treats the
  // source and records a success; any platform::Exception after the naming makes
  // the entry a failure with the error's text (the source is then left alone).
  //
  //   AllSheets  Sheet       saved
  //   on         0           the workbook, to the target
  //   on         -1          every sheet i to SheetFileName(target, i)
  //   on         1 or more   sheet "Sheet", to the target
  //   on         -2 or less  the active sheet, to the target
  //   off        0 or less   the active sheet, to the target
  //   off        1 or more   sheet "Sheet", to the target
  void Convert(TvoBatch* Batch, TvoNode* Node) override;

  // The file of sheet Index in every-sheet mode: the folder of Target, "Sheet",
  // the number, "_" and the file name of Target (/out/Sheet2_a.csv for /out/a.csv).
  static std::string SheetFileName(const std::string& Target, std::int32_t Index);

 private:
  void SaveSheets(const std::string& Target);
};

// The converter class of this product: makes TvoTabrix workers.
std::shared_ptr<TvoConvertor> voTabrixClass(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount,
                                            TvoNodeEvent OnNode);

// The converter module's start-up step: the product's constants in the project
// (converter class, masks, filters, extensions, product id, title, version) and the
// batch's switch that leaves out "~$" lock files.
void voTabrixStartup(TvoProject& Project);
