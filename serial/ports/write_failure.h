#pragma once
// Why a write failed, in words a user can act on: the error the port raises
// (code 2 with the system's number) stays as it is; this is the line shown
// after it, as for a failed open. Qt-free; any thread.

#include <string>

namespace cport {

// What the port knew when the write failed.
struct WriteFailureFacts {
    int error = 0;                // the errno value the write failed with (WinErrorCode)
    bool lineLost = false;        // the port had reported its line lost
    bool reopenOnReturn = false;  // a lost device is opened again when it returns
    std::string lossReason;       // a network port's "line lost" reason, if any
};

// One or two sentences, UTF-8, no line breaks.
std::string ExplainWriteFailure(const WriteFailureFacts& facts);

}  // namespace cport
