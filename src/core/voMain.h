// The unattended run: searches the project's source, converts every file found on
// the project's number of workers, waits until every worker has ended, adds the run
// to the persistent counters, reports failures through the link builder and writes
// one result line per file to the file named by "LogFile". It shows nothing and
// writes nothing to the console; errors that escape Run (an empty "Target", a log
// file that cannot be written) are platform::Exception for start-up's last-resort
// handler.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TvoBatch;
class TvoConvertor;
struct TvoNode;

class TvoMain {
 public:
  TvoMain() = default;
  virtual ~TvoMain();
  TvoMain(const TvoMain&) = delete;
  TvoMain& operator=(const TvoMain&) = delete;

  // The whole unattended run; returns when it is finished.
  void Run();
  // The workers' result handler: appends the entry's result line to FLog. Safe
  // from several workers at once.
  void NodeConverted(TvoBatch* Batch, TvoNode* Node);
  // Counters, error report and log file, once every worker has ended.
  void Finish();

  // "Success", "Failure" or "Running", " => ", the source, " => ", the result text.
  static std::string ResultLine(const TvoNode& Node);
  // The texts separated by ","; a text with a character of code 32 or below, a ","
  // or a double quote is enclosed in double quotes with inner quotes doubled; a
  // list holding only one empty text gives "".
  static std::string CommaText(const std::vector<std::string>& Texts);

  // A copy of the result lines, in the order of the reports.
  std::vector<std::string> Log() const;

  std::shared_ptr<TvoBatch> FBatch;
  std::shared_ptr<TvoConvertor> FConvertor;

 private:
  mutable std::mutex FLogLock;
  std::vector<std::string> FLog;  // guarded by FLogLock
};

extern TvoMain* voMain;
