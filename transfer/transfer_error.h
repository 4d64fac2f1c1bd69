#pragma once
// The transfer engine's one error class: a code saying what kind of failure
// ended the transfer and a message for the user. Any thread.

#include <stdexcept>
#include <string>

namespace tarvik::transfer {

enum class TransferCode {
    kCancelled = 1,     // cancelled here
    kCancelledByPeer,   // the far end sent CAN CAN
    kNoAnswer,          // the far end never answered or stopped answering
    kTooManyRetries,    // a block was refused or lost more often than the limit
    kFile,              // the file cannot be read, written, or changed while sent
    kLine,              // the line failed (write error, lost)
    kProtocol,          // the far end broke the protocol
    kWaitFor,           // a paced text's prompt did not come in time
};

class ETransfer : public std::runtime_error {
  public:
    ETransfer(TransferCode code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    TransferCode Code() const { return code_; }

  private:
    TransferCode code_;
};

}  // namespace tarvik::transfer
