// The automation connection of one worker to the spreadsheet application
// ("Excel.Application"): started on the worker's own thread at its first workbook,
// one workbook open at a time, closed without saving, and told to quit when the
// worker ends. Every call runs on the worker's thread; workers share nothing.
//
// Members used, exactly as called (Method = a method call or property read):
//   application  "Version"       Method        ()
//   application  "DisplayAlerts" PropertyPut   (false)
//   application  "Workbooks"     Method        ()
//   workbooks    "Open"          Method        (file, missing, read-only)
//                                              or (file, missing, true, missing, kDummyPassword)
//   workbook     "SaveAs"        Method        (target, 6)
//   workbook     "Sheets"        Method        ()          the sheets collection
//   sheets       "Count"         Method        ()
//   workbook     "Sheets"        PropertyGet   (number)    one sheet, counted from 1
//   workbook     "ActiveSheet"   Method        ()
//   sheet        "SaveAs"        Method        (target, 6)
//   workbook     "Close"         Method        (false)
//   application  "Quit"          Method        ()
//   application  "Path"          Method        ()
//   workbook     "HasVBProject"  Method        ()
#pragma once

#include <cstdint>
#include <string>

#include "convert/voConvertor.h"
#include "platform/automation.h"

// The ProgID of the spreadsheet application.
inline constexpr const char* kExcelProgId = "Excel.Application";
// The password given to every workbook when "SkipPassword" is on, so that a
// workbook protected by any other password fails at once instead of asking.
inline constexpr std::int32_t kDummyPassword = 51;
// The application's file format number of CSV.
inline constexpr std::int32_t kCsvFileFormat = 6;
// The name of the application's program file, in its "Path" folder.
inline constexpr const char* kExcelExeName = "EXCEL.EXE";
// Versions above this are read as ten times the major version (160 for 16.0).
inline constexpr std::int32_t kMaxMajorVersion = 77;

class TvoExcelOle : public TvoConvertor {
 public:
  TvoExcelOle(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount, TvoNodeEvent OnNode);
  ~TvoExcelOle() override;

  // Initialises automation on this thread, creates the application (a failure
  // is raised and leaves FApp empty), reads its version into FAppVersion and the
  // "W" counter and switches its alerts off (both failures ignored).
  void StartApplication();
  // Starts the application when needed and opens FileName unless a workbook is
  // open already ("ReadOnly", "SkipPassword"). A failure is raised and leaves
  // FWorkbook empty.
  void OpenWorkbook(const std::string& FileName);
  // Closes the open workbook without saving (a failure is ignored); FWorkbook is
  // empty afterwards in every case.
  void CloseWorkbook();

  // "Path" of the application, the path delimiter and kExcelExeName; failures are
  // raised.
  std::string AppExeName() override;
  // "HasVBProject" of the open workbook for versions 12 and above; otherwise, or
  // when that fails, true.
  bool HasMacros() override;

  // The major version from the application's "Version" value: the value divided
  // by 1 as a whole number; when that fails, its text without its first "." read as
  // a whole number (0 when it is none); a result above kMaxMajorVersion is divided
  // by 10. 16.0, "16.0" and 160 all give 16.
  static std::int32_t ParseVersion(const platform::automation::Variant& Value);

  std::int32_t AppVersion() const { return FAppVersion; }

 protected:
  // Quits the application (a failure is ignored), then the inherited end.
  void on_end() noexcept override;

  platform::automation::ObjectPtr FApp;
  platform::automation::ObjectPtr FWorkbook;
  std::int32_t FAppVersion = 0;
};
