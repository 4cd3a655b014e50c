// The engine's exception: every failure of reading or writing a workbook.
#pragma once

#include <string>

#include "platform/error.h"

namespace sheets {

class Error : public platform::Exception {
 public:
  explicit Error(const std::string& message) : platform::Exception(message) {}
};

}  // namespace sheets
