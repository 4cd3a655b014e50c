// The program's entry point: the spreadsheet engine answers as the automation
// runtime's spreadsheet application, then start-up, the unattended run or the
// window, and tear-down.
#include "core/voStartup.h"
#include "sheets/excel_application.h"

int main(int argc, char** argv) {
  sheets::register_excel_application();
  return voRun(argc, argv);
}
