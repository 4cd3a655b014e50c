#include "batch/voWorkBase.h"

#include "batch/voBatch.h"
#include "platform/error.h"

TvoWorkBase::TvoWorkBase(std::shared_ptr<TvoBatch> Batch, std::int32_t /*ThreadsCount*/, TvoNodeEvent /*OnNode*/)
    : FBatch(std::move(Batch)) {
  set_free_on_end(true);
}

TvoWorkBase::~TvoWorkBase() = default;

void TvoWorkBase::execute() {
  while (!terminated()) {
    FNode = FBatch->Next();
    if (!FNode) {
      terminate();
      break;
    }
    try {
      ProcessNode();
    } catch (const platform::Exception& e) {
      FNode->ResultText = e.what();
    }
  }
  FNode = nullptr;
}
