#pragma once
// XMODEM (checksum or CRC, 128- or 1024-byte blocks) and YMODEM batches over
// a channel, both directions. Engine thread. Each throws ETransfer; the
// caller tells the far end about a failure of ours (Channel::SendCancel).

#include <string>
#include <vector>

#include "transfer/channel.h"
#include "transfer/options.h"

namespace tarvik::transfer {

void XmodemSend(Channel& channel, const std::string& path, const XmodemOptions& options);
// The file arrives padded to its last block, as XMODEM carries no size.
void XmodemReceive(Channel& channel, const std::string& path, const XmodemOptions& options);

// 1024-byte blocks with the CRC; the files' names without their folders.
void YmodemSend(Channel& channel, const std::vector<std::string>& paths,
                const XmodemOptions& options);
// Returns the paths of the files received into `folder`, in order.
std::vector<std::string> YmodemReceive(Channel& channel, const std::string& folder,
                                       const XmodemOptions& options);

}  // namespace tarvik::transfer
