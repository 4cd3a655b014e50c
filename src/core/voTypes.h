// Types shared by the application core, the batch engine and the converters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class TvoBatch;
class TvoConvertor;
struct TvoNode;

// A notification about one file entry: Sender is the batch, Node the entry.
using TvoNodeEvent = std::function<void(TvoBatch* Sender, TvoNode* Node)>;
// A notification without arguments (the type of OnFinish).
using TvoEvent = std::function<void()>;

// The converter class of a project: makes one worker of the chain with
// (Batch, ThreadsCount, OnNode); the worker builds the rest of the chain itself.
using TvoConverterClass =
    std::function<std::shared_ptr<TvoConvertor>(std::shared_ptr<TvoBatch> Batch, std::int32_t ThreadsCount,
                                                TvoNodeEvent OnNode)>;
