#include "transfer/engine.h"

#include "transfer/channel.h"
#include "transfer/modem.h"
#include "transfer/paced.h"
#include "transfer/transfer_error.h"

namespace tarvik::transfer {

std::optional<Mode> ModeNamed(std::string_view name) {
    for (const Mode mode : {Mode::kText, Mode::kRaw, Mode::kXmodem, Mode::kXmodem1k, Mode::kYmodem})
        if (name == ModeName(mode))
            return mode;
    return std::nullopt;
}

const char* ModeName(Mode mode) {
    switch (mode) {
        case Mode::kText:
            return "text";
        case Mode::kRaw:
            return "raw";
        case Mode::kXmodem:
            return "xmodem";
        case Mode::kXmodem1k:
            return "xmodem1k";
        case Mode::kYmodem:
            return "ymodem";
    }
    return "";
}

std::optional<LineEnd> LineEndNamed(std::string_view name) {
    if (name == "asis")
        return LineEnd::kAsIs;
    if (name == "cr")
        return LineEnd::kCr;
    if (name == "crlf")
        return LineEnd::kCrLf;
    if (name == "lf")
        return LineEnd::kLf;
    return std::nullopt;
}

std::string Describe(const Job& job) {
    std::string text = job.receive ? "receive " : "send ";
    text += ModeName(job.mode);
    text += job.receive && job.mode == Mode::kYmodem ? " into " : " ";
    text += job.path;
    return text;
}

Outcome Engine::Run(const Job& job, const ProgressHandler& progress) {
    line_.ClearInterrupt();
    if (cancel_.load())
        line_.Interrupt();
    Channel channel(line_, cancel_, progress);
    Outcome outcome;
    const bool protocol = job.mode != Mode::kText && job.mode != Mode::kRaw;
    if (job.receive && !protocol)
        throw ETransfer(TransferCode::kProtocol, "Only XMODEM and YMODEM receive files");
    XmodemOptions modem = job.modem;
    modem.oneK = job.mode == Mode::kXmodem1k;
    try {
        switch (job.mode) {
            case Mode::kText:
                SendText(channel, job.path, job.text);
                break;
            case Mode::kRaw:
                SendRaw(channel, job.path, job.raw);
                break;
            case Mode::kXmodem:
            case Mode::kXmodem1k:
                if (job.receive)
                    XmodemReceive(channel, job.path, modem);
                else
                    XmodemSend(channel, job.path, modem);
                break;
            case Mode::kYmodem:
                if (job.receive)
                    outcome.received = YmodemReceive(channel, job.path, modem);
                else
                    YmodemSend(channel, {job.path}, modem);
                break;
        }
    } catch (const ETransfer& error) {
        if (protocol && error.Code() != TransferCode::kCancelledByPeer &&
            error.Code() != TransferCode::kLine)
            channel.SendCancel();
        line_.ClearInterrupt();
        throw;
    } catch (...) {
        // A face's own ending (a stop, its port gone): the far end is told all the same.
        if (protocol)
            channel.SendCancel();
        line_.ClearInterrupt();
        throw;
    }
    channel.Meter().Finish();
    outcome.figures = channel.Figures();
    return outcome;
}

void Engine::Cancel() {
    cancel_.store(true);
    line_.Interrupt();
}

}  // namespace tarvik::transfer
