#include "transfer/modem.h"

#include <sys/stat.h>

#include <algorithm>

#include "transfer/blocks.h"
#include "transfer/files.h"
#include "transfer/transfer_error.h"

namespace tarvik::transfer {

namespace {

// The last answer of a receive must leave before the caller closes the
// port: closing a pty empties what its far side has not read yet.
constexpr std::int64_t kLastAnswerMs = 100;

[[noreturn]] void PeerCancelled() {
    throw ETransfer(TransferCode::kCancelledByPeer, "The far end cancelled the transfer");
}

// After one CAN: a second within a second is the far end's cancel.
bool SecondCan(Channel& channel) {
    const auto next = channel.ReadByte(1000);
    return next && *next == CAN;
}

// The sending side: waits for the receiver's start, sends numbered blocks
// until each is acknowledged, then the end.
class BlockSender {
  public:
    BlockSender(Channel& channel, const ProtocolTimes& times) : channel_(channel), times_(times) {}

    bool Crc() const { return crc_; }

    // The receiver's C (CRC) or NAK (checksum); others are passed over.
    void AwaitStart(bool crcOnly) {
        const auto deadline = After(times_.startMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - Clock::now()).count();
            const auto byte = left > 0 ? channel_.ReadByte(left) : std::nullopt;
            if (!byte)
                throw ETransfer(TransferCode::kNoAnswer,
                                "The receiver did not start (no C or NAK within " +
                                    std::to_string(times_.startMs) + " ms)");
            if (*byte == kCrcStart || (*byte == NAK && !crcOnly)) {
                crc_ = *byte == kCrcStart;
                // A receiver repeats its start while it waits; older ones
                // still queued would pass for answers to the first block.
                channel_.DropPending();
                Turnaround();
                return;
            }
            if (*byte == CAN && SecondCan(channel_))
                PeerCancelled();
        }
    }

    void SendBlock(std::uint8_t number, std::string_view payload, unsigned char pad = SUB) {
        const std::string block = FrameBlock(number, payload, crc_, pad);
        int silent = 0;
        for (int attempt = 0;; ++attempt) {
            if (attempt > times_.retries && silent == attempt)
                throw ETransfer(TransferCode::kNoAnswer,
                                "The receiver stopped answering (block " + std::to_string(number) +
                                    " sent " + std::to_string(attempt) + " times, " +
                                    std::to_string(times_.answerMs) + " ms each without an answer)");
            if (attempt > times_.retries)
                throw ETransfer(TransferCode::kTooManyRetries,
                                "Block " + std::to_string(number) + " was refused " +
                                    std::to_string(attempt - silent) + " times" +
                                    (silent > 0 ? ", unanswered " + std::to_string(silent) + " times"
                                                : std::string()));
            if (attempt > 0) {
                ++channel_.Figures().retries;
                channel_.DropPending();  // a late answer would stand for the next block
                gapUs_ = std::clamp<std::int64_t>(gapUs_ * 2, kFirstGapUs, kLastGapUs);
            } else if (gapUs_ > 0) {
                Pause(std::chrono::microseconds(gapUs_));
            }
            channel_.Write(block);
            const Answer answer = AwaitAnswer();
            if (answer == Answer::kAck)
                return;
            silent += answer == Answer::kSilent ? 1 : 0;
        }
    }

    void SendEnd() {
        Turnaround();
        SendClosing(std::string(1, static_cast<char>(EOT)), times_.endMs, TransferCode::kNoAnswer,
                    "The receiver did not confirm the end");
    }

    // The batch's last block 0; a receiver that had all files may be gone,
    // and answers at once when it is not.
    void SendBatchEnd() {
        SendClosing(FrameBlock(0, {}, crc_, 0), times_.endAgainMs, TransferCode::kTooManyRetries,
                    "The receiver refused the batch's end");
    }

  private:
    // Some receivers (lrzsz's among them) empty their input just after
    // they wrote their start or answer: what comes back at once is lost
    // and waits out a whole time-out. A moment's pause at the two places
    // where that costs most (the first block, the end) keeps clear of it.
    void Turnaround() { Pause(std::chrono::milliseconds(times_.turnaroundMs)); }
    void Pause(Clock::duration pause) {
        channel_.IdleUntil(Clock::now() + pause);
        channel_.Heard().clear();
    }
    // The same receivers empty their input after each answer too, now and
    // then after a next block came already (when they lose the processor
    // between the two). A block lost so costs a whole time-out; once one
    // was, each block waits a moment after its answer, longer with each loss.
    static constexpr std::int64_t kFirstGapUs = 500;
    static constexpr std::int64_t kLastGapUs = 8000;
    std::int64_t gapUs_ = 0;

    enum class Answer { kAck, kNak, kSilent };

    // Sends the end until it is acknowledged. Every data block was, so the
    // file is there; the end's answer is what some receivers (lrzsz's) throw
    // away themselves as they exit, emptying the line both ways. Silence
    // after the end was sent twice is taken for that, and said.
    void SendClosing(const std::string& end, std::int64_t firstMs, TransferCode code,
                     const char* refused) {
        for (int attempt = 0, silent = 0;; ++attempt) {
            if (attempt > times_.retries)
                throw ETransfer(code, refused);
            channel_.Write(end);
            const Answer answer = AwaitAnswer(silent == 0 ? firstMs : times_.endAgainMs);
            if (answer == Answer::kAck)
                return;
            if (answer == Answer::kSilent && ++silent == 2) {
                channel_.Figures().endUnconfirmed = true;
                return;
            }
        }
    }

    Answer AwaitAnswer() { return AwaitAnswer(times_.answerMs); }
    Answer AwaitAnswer(std::int64_t ms) {
        const auto deadline = After(ms);
        bool heard = false;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - Clock::now()).count();
            const auto byte = left > 0 ? channel_.ReadByte(left) : std::nullopt;
            if (!byte)
                return heard ? Answer::kNak : Answer::kSilent;
            heard = true;
            if (*byte == ACK)
                return Answer::kAck;
            if (*byte == NAK)
                return Answer::kNak;
            if (*byte == CAN && SecondCan(channel_))
                PeerCancelled();
        }
    }

    Channel& channel_;
    const ProtocolTimes& times_;
    bool crc_ = true;
};

// Sends the file's data as blocks 1, 2, ... and the end.
void SendData(Channel& channel, BlockSender& sender, InputFile& file, bool oneK) {
    Progress& figures = channel.Figures();
    std::uint8_t number = 1;
    for (std::uint64_t sent = 0; sent < file.Size();) {
        const std::uint64_t left = file.Size() - sent;
        // A short tail goes in 128-byte blocks: less padding on the line.
        const std::size_t size = oneK && left > 896 ? 1024 : 128;
        const std::string payload = file.Read(static_cast<std::size_t>(std::min<std::uint64_t>(size, left)));
        sender.SendBlock(number++, payload);
        sent += payload.size();
        figures.bytes = sent;
        ++figures.blocks;
        channel.Meter().Update();
    }
    file.CheckUnchanged();
    sender.SendEnd();
}

// The receiving side: asks for blocks and takes them in order.
class BlockReceiver {
  public:
    BlockReceiver(Channel& channel, const ProtocolTimes& times) : channel_(channel), times_(times) {}

    enum class Got { kBlock, kEnd };

    // Sends the start (C, falling back to NAK after three tries unless
    // `crcOnly`) until a block header comes; returns it.
    unsigned char Start(bool crc, bool crcOnly) {
        crc_ = crc;
        const auto deadline = After(times_.startMs);
        for (int attempt = 0; Clock::now() < deadline; ++attempt) {
            if (crc_ && !crcOnly && attempt >= 3)
                crc_ = false;
            channel_.Write(std::string(1, static_cast<char>(crc_ ? kCrcStart : NAK)));
            const auto retryAt = After(times_.startRetryMs);
            while (Clock::now() < retryAt) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      retryAt - Clock::now()).count();
                const auto byte = channel_.ReadByte(std::max<std::int64_t>(left, 1));
                if (!byte)
                    break;
                if (*byte == SOH || *byte == STX || *byte == EOT)
                    return *byte;
                if (*byte == CAN && SecondCan(channel_))
                    PeerCancelled();
            }
        }
        throw ETransfer(TransferCode::kNoAnswer, "The sender did not start (no block within " +
                                                     std::to_string(times_.startMs) + " ms)");
    }

    // Takes the next block in order (`header` already read, or 0 to read
    // it), answering every block; a repeated block is acknowledged again and
    // passed over. The payload lands in `payload`.
    Got Next(unsigned char header, std::uint8_t expected, std::string& payload) {
        int failures = 0;
        for (;;) {
            if (header == 0) {
                const auto byte = channel_.ReadByte(times_.blockMs);
                if (!byte) {
                    Refuse(failures, TransferCode::kNoAnswer, "The sender stopped sending (no block within " +
                                                                  std::to_string(times_.blockMs) + " ms, " +
                                                                  std::to_string(failures + 1) + " times)");
                    continue;
                }
                header = *byte;
            }
            const unsigned char got = header;
            header = 0;
            if (got == EOT) {
                // A noisy byte could pass for the end: ask again, as the protocol does.
                if (!endAsked_) {
                    endAsked_ = true;
                    channel_.Write(std::string(1, static_cast<char>(NAK)));
                    continue;
                }
                endAsked_ = false;
                channel_.Write(std::string(1, static_cast<char>(ACK)));
                return Got::kEnd;
            }
            endAsked_ = false;
            if (got == CAN) {
                if (SecondCan(channel_))
                    PeerCancelled();
                continue;
            }
            if (got != SOH && got != STX)
                continue;  // noise between blocks
            std::string rest;
            const bool whole = channel_.ReadBytes(rest, 2 + PayloadSize(got) + (crc_ ? 2 : 1),
                                                  times_.byteMs);
            std::optional<std::string> data;
            if (whole)
                data = UnframeBlock(got, rest, crc_);
            if (!data) {
                channel_.Purge(times_.purgeQuietMs);
                Refuse(failures, TransferCode::kTooManyRetries, "A block arrived damaged too often");
                continue;
            }
            const auto number = static_cast<std::uint8_t>(rest[0]);
            if (number == static_cast<std::uint8_t>(expected - 1)) {
                channel_.Write(std::string(1, static_cast<char>(ACK)));  // our ACK was lost
                continue;
            }
            if (number != expected)
                throw ETransfer(TransferCode::kProtocol,
                                "Block " + std::to_string(number) + " came instead of block " +
                                    std::to_string(expected));
            payload = std::move(*data);
            return Got::kBlock;
        }
    }

    void Acknowledge() { channel_.Write(std::string(1, static_cast<char>(ACK))); }

  private:
    void Refuse(int& failures, TransferCode code, const std::string& why) {
        if (++failures > times_.retries)
            throw ETransfer(code, why);
        ++channel_.Figures().retries;
        channel_.Write(std::string(1, static_cast<char>(NAK)));
    }

    Channel& channel_;
    const ProtocolTimes& times_;
    bool crc_ = true;
    bool endAsked_ = false;
};

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Receives blocks 1, 2, ... until the end into `out`; at most `size` bytes
// are kept when the size is known.
void ReceiveData(Channel& channel, BlockReceiver& receiver, unsigned char header,
                 OutputFile& out, std::optional<std::uint64_t> size) {
    Progress& figures = channel.Figures();
    std::uint8_t expected = 1;
    std::string payload;
    while (receiver.Next(header, expected, payload) == BlockReceiver::Got::kBlock) {
        header = 0;
        std::string_view keep = payload;
        if (size)
            keep = keep.substr(0, static_cast<std::size_t>(
                                      std::min<std::uint64_t>(keep.size(), *size - std::min(*size, out.Written()))));
        out.Write(keep);
        receiver.Acknowledge();
        ++expected;
        figures.bytes = out.Written();
        ++figures.blocks;
        channel.Meter().Update();
    }
    if (size && out.Written() < *size)
        throw ETransfer(TransferCode::kProtocol, "The transfer ended " +
                                                     std::to_string(*size - out.Written()) +
                                                     " bytes short");
}

}  // namespace

void XmodemSend(Channel& channel, const std::string& path, const XmodemOptions& options) {
    InputFile file(path);
    channel.Figures().file = BaseName(path);
    channel.Figures().total = file.Size();
    BlockSender sender(channel, options.times);
    sender.AwaitStart(false);
    SendData(channel, sender, file, options.oneK);
}

void XmodemReceive(Channel& channel, const std::string& path, const XmodemOptions& options) {
    OutputFile out(path);
    channel.Figures().file = BaseName(path);
    BlockReceiver receiver(channel, options.times);
    const unsigned char header = receiver.Start(options.crc, false);
    ReceiveData(channel, receiver, header, out, std::nullopt);
    out.Commit();
    channel.IdleUntil(After(kLastAnswerMs));
}

void YmodemSend(Channel& channel, const std::vector<std::string>& paths,
                const XmodemOptions& options) {
    BlockSender sender(channel, options.times);
    for (const std::string& path : paths) {
        InputFile file(path);
        struct stat info {};
        stat(path.c_str(), &info);
        Progress& figures = channel.Figures();
        figures.file = BaseName(path);
        figures.total = file.Size();
        figures.bytes = 0;
        sender.AwaitStart(true);
        sender.SendBlock(0, HeaderPayload({figures.file, file.Size(),
                                           static_cast<std::uint64_t>(info.st_mtim.tv_sec)}),
                         0);
        sender.AwaitStart(true);
        SendData(channel, sender, file, true);
        channel.Meter().Update(true);
    }
    sender.AwaitStart(true);
    sender.SendBatchEnd();
}

std::vector<std::string> YmodemReceive(Channel& channel, const std::string& folder,
                                       const XmodemOptions& options) {
    std::vector<std::string> received;
    for (;;) {
        BlockReceiver receiver(channel, options.times);
        std::string payload;
        const unsigned char first = receiver.Start(true, true);
        if (first == EOT)
            throw ETransfer(TransferCode::kProtocol, "The sender ended before naming a file");
        receiver.Next(first, 0, payload);
        const std::optional<FileHeader> header = ParseHeader(payload);
        if (!header)
            throw ETransfer(TransferCode::kProtocol, "The sender's block 0 names no file");
        if (header->name.empty()) {
            receiver.Acknowledge();
            channel.IdleUntil(After(kLastAnswerMs));
            return received;
        }
        const std::string name = SafeFileName(header->name);
        if (name.empty())
            throw ETransfer(TransferCode::kProtocol,
                            "The sender named no usable file: \"" + header->name + "\"");
        const std::string target = (folder.empty() ? std::string(".") : folder) + "/" + name;
        OutputFile out(target);
        Progress& figures = channel.Figures();
        figures.file = name;
        figures.total = header->size.value_or(0);
        figures.bytes = 0;
        receiver.Acknowledge();
        const unsigned char data = receiver.Start(true, true);
        ReceiveData(channel, receiver, data, out, header->size);
        out.Commit();
        received.push_back(target);
        channel.Meter().Update(true);
    }
}

}  // namespace tarvik::transfer
