// The unattended run.
#pragma once

class TvoMain {
 public:
  virtual ~TvoMain() = default;
  // The whole unattended run; returns when it is finished.
  void Run();
};

extern TvoMain* voMain;
