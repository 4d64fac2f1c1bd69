#pragma once
// A port error with an explanation beside it: code, number and the port's
// own text stay as they are; the explanation follows on a line of its own.

#include <string>

#include "serial/error/com_error.h"

namespace tarvik {

class EExplained : public cport::EComPort {
  public:
    EExplained(const cport::EComPort& error, const std::string& explanation)
        : cport::EComPort(error), text_(std::string(error.what()) + "\n" + explanation) {}
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    std::string text_;
};

}  // namespace tarvik
