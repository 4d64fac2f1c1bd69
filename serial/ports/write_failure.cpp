#include "serial/ports/write_failure.h"

#include <cerrno>
#include <cstring>

namespace cport {

namespace {

bool DeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

std::string Resumes(bool reopenOnReturn) {
    return reopenOnReturn ? "with Reopen on, sending resumes when it is back."
                          : "with Reopen off, press Stop, then Start once it is back (or tick "
                            "\"Reopen when the device returns\" so that sending resumes by "
                            "itself).";
}

}  // namespace

std::string ExplainWriteFailure(const WriteFailureFacts& facts) {
    // While the port waits for its device, it holds no device at all: every
    // write is refused with EBADF until the device is back.
    if (facts.lineLost && facts.reopenOnReturn && facts.error == EBADF)
        return "The device went away and the port is waiting for it; sending resumes when it "
               "is back.";
    if (DeviceGone(facts.error) || facts.lineLost) {
        const std::string why = facts.lossReason.empty() ? "" : " (" + facts.lossReason + ")";
        return "The device went away" + why + "; " + Resumes(facts.reopenOnReturn);
    }
    switch (facts.error) {
        case ECANCELED:
            return "The send was cut short because the port was closed.";
        case EBADF:
            return "The port is not open any more.";
        case EAGAIN:
        case ETIMEDOUT:
            return "The device took nothing within the write time-out (flow control holding "
                   "the line?).";
        case EACCES:
        case EPERM:
            return "The system refused the write: no permission.";
        default:
            break;
    }
    return std::string("The system says: ") + std::strerror(facts.error) + ".";
}

}  // namespace cport
