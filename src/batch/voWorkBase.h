// The worker loop: a thread that takes the entries of a batch one by one and
// processes each of them, until the batch has none left or the worker is asked to
// stop. Workers free themselves: a started worker keeps itself alive until its body
// and its end (on_end) have run.
#pragma once

#include <cstdint>
#include <memory>

#include "core/voTypes.h"
#include "platform/thread.h"

class TvoBatch;
struct TvoNode;

class TvoWorkBase : public platform::Thread {
 public:
  // Creates the worker suspended, marked to free itself at its end. ThreadsCount
  // and OnNode are for the descendants. Own workers with std::shared_ptr.
  TvoWorkBase(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount, TvoNodeEvent OnNode);
  ~TvoWorkBase() override;

  const std::shared_ptr<TvoBatch>& Batch() const { return FBatch; }

 protected:
  // The worker loop. A platform::Exception that escapes ProcessNode becomes the
  // entry's ResultText (its Status and the batch's counters are left alone) and the
  // loop goes on; anything else ends the thread.
  void execute() override;
  // Handles the entry in hand (FNode); nothing here.
  virtual void ProcessNode() {}

  // Shared with every other worker of the run: the batch outlives its workers.
  std::shared_ptr<TvoBatch> FBatch;
  // The entry in hand; owned by the batch. Only this worker's thread uses it.
  TvoNode* FNode = nullptr;
};
