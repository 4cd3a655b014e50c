#include "convert/voTabrix.h"

#include "batch/voBatch.h"
#include "core/voProject.h"
#include "platform/error.h"
#include "platform/path.h"

namespace au = platform::automation;

TvoTabrix::TvoTabrix(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount, TvoNodeEvent OnNode)
    : TvoExcelOle(std::move(Batch), ThreadsCount, std::move(OnNode)) {}

std::string TvoTabrix::SheetFileName(const std::string& Target, std::int32_t Index) {
  return platform::path::folder_part(Target) + "Sheet" + std::to_string(Index) + "_" +
         platform::path::file_name_part(Target);
}

void TvoTabrix::SaveSheets(const std::string& Target) {
  const bool all_sheets = voProject->GetBool("AllSheets", true);
  const std::int32_t sheet = voProject->GetInt("Sheet", 0);
  const au::Variant csv(kCsvFileFormat);

  if (all_sheets && sheet == 0) {
    au::call(FWorkbook, "SaveAs", {Target, csv});
  } else if (all_sheets && sheet == -1) {
    const std::int32_t n = au::call(au::call(FWorkbook, "Sheets").as_object(), "Count").as_int();
    for (std::int32_t i = 1; i <= n; ++i) {
      const au::ObjectPtr one = au::get(FWorkbook, "Sheets", {i}).as_object();
      au::call(one, "SaveAs", {SheetFileName(Target, i), csv});
    }
  } else if (sheet >= 1) {
    au::call(au::get(FWorkbook, "Sheets", {sheet}).as_object(), "SaveAs", {Target, csv});
  } else {
    au::call(au::call(FWorkbook, "ActiveSheet").as_object(), "SaveAs", {Target, csv});
  }
}

void TvoTabrix::Convert(TvoBatch* Batch, TvoNode* Node) {
  const std::string target = TargetFileName(Batch, Node);
  if (target.empty()) return;
  try {
    OpenWorkbook(Node->SourceFile);
    DeleteTarget(target);
    SaveSheets(target);
    CloseWorkbook();
    FinishSource(Batch, Node, target);
    Node->ResultText = target;
    Node->Status = TvoNode::Success;
    Batch->AddSuccess();
  } catch (const platform::Exception& e) {
    Node->ResultText = e.what();
    Node->Status = TvoNode::Failure;
    Batch->AddFailure(e.what());
  }
  CloseWorkbook();
}

std::shared_ptr<TvoConvertor> voTabrixClass(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount,
                                            TvoNodeEvent OnNode) {
  return std::make_shared<TvoTabrix>(std::move(Batch), ThreadsCount, std::move(OnNode));
}

void voTabrixStartup(TvoProject& Project) {
  Project.FConverterClass = voTabrixClass;
  Project.FSourceMask = "*.xls?";
  Project.FSourceFilter = "Excel Workbook (*.xls;*.xlsx)|*.xls;*.xlsx";
  Project.FTargetExt = ".csv";
  Project.FProductId = "tabrix";
  Project.FProjectExt = ".batch-" + Project.FProductId;
  Project.FProjectFilter = "Tabrix Project|*" + Project.FProjectExt;
  Project.FTitle = "Tabrix Converter";
  voSkipLockFiles.store(true);
  Project.FVersion = "2020.12.1118.2541";
}
