#include "codec/check_value.h"

#include <array>
#include <cctype>

#include "base/int_conversion.h"

namespace fun {

namespace {

constexpr TCrcModel kNoCrc{};

// Names as people type them: any case; an empty name names nothing.
bool SameLetters(std::string_view a, std::string_view b) {
    if (a.empty() || a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Parameters as the catalogue lists them; its check values for "123456789"
// are in the codec's tests.
// clang-format off
constexpr std::array kCheckValues{
    TCheckValue{"SUM", "8-bit sum", TCheckKind::Sum, kNoCrc, TByteOrder::LowFirst},
    TCheckValue{"BCC", "XOR as two hex digits", TCheckKind::Bcc, kNoCrc, TByteOrder::LowFirst},
    TCheckValue{"LRC", "two's complement of the sum", TCheckKind::Lrc, kNoCrc, TByteOrder::LowFirst},
    TCheckValue{"NMEA 0183", "XOR after $, *hh", TCheckKind::NmeaXor, kNoCrc, TByteOrder::LowFirst},
    //                                                         width poly        init        refin  refout xorout
    TCheckValue{"CRC-8/SMBUS", "", TCheckKind::Crc,            {8,  0x07,       0x00,       false, false, 0x00},
                TByteOrder::LowFirst},
    TCheckValue{"CRC-8/MAXIM-DOW", "CRC-8/MAXIM", TCheckKind::Crc,
                                                               {8,  0x31,       0x00,       true,  true,  0x00},
                TByteOrder::LowFirst},
    TCheckValue{"CRC-16/MODBUS", "", TCheckKind::Crc,          {16, 0x8005,     0xFFFF,     true,  true,  0x0000},
                TByteOrder::LowFirst},
    TCheckValue{"CRC-16/IBM-3740", "CRC-16/CCITT-FALSE", TCheckKind::Crc,
                                                               {16, 0x1021,     0xFFFF,     false, false, 0x0000},
                TByteOrder::HighFirst},
    TCheckValue{"CRC-16/XMODEM", "", TCheckKind::Crc,          {16, 0x1021,     0x0000,     false, false, 0x0000},
                TByteOrder::HighFirst},
    TCheckValue{"CRC-16/KERMIT", "", TCheckKind::Crc,          {16, 0x1021,     0x0000,     true,  true,  0x0000},
                TByteOrder::LowFirst},
    TCheckValue{"CRC-32/ISO-HDLC", "CRC-32", TCheckKind::Crc,  {32, 0x04C11DB7, 0xFFFFFFFF, true,  true,  0xFFFFFFFF},
                TByteOrder::LowFirst},
};
// clang-format on

std::uint32_t Reflect(std::uint32_t value, int width) {
    std::uint32_t reflected = 0;
    for (int bit = 0; bit < width; ++bit) {
        if (value & (std::uint32_t{1} << bit))
            reflected |= std::uint32_t{1} << (width - 1 - bit);
    }
    return reflected;
}

std::uint32_t Mask(int width) {
    return width >= 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << width) - 1;
}

// Bytes of the value that the kind puts on the line, in its byte order.
int ValueBytes(const TCheckValue& check) {
    return check.kind == TCheckKind::Crc ? check.crc.width / 8 : 1;
}

std::string HexPair(std::uint8_t byte) {
    return {HexDigit(byte >> 4), HexDigit(byte & 0x0F)};
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

TCrcRun::TCrcRun(const TCrcModel& model) : model_(model), mask_(Mask(model.width)) {
    // Bitwise: a line holds at most 256 bytes, so a table buys nothing.
    if (model.refin) {
        poly_ = Reflect(model.poly, model.width);
        register_ = Reflect(model.init & mask_, model.width);
    } else {
        poly_ = model.poly;
        register_ = model.init & mask_;
    }
}

void TCrcRun::Add(std::uint8_t byte) {
    if (model_.refin) {
        register_ ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            register_ = (register_ & 1) ? (register_ >> 1) ^ poly_ : register_ >> 1;
    } else {
        const std::uint32_t top = std::uint32_t{1} << (model_.width - 1);
        register_ ^= std::uint32_t{byte} << (model_.width - 8);
        for (int bit = 0; bit < 8; ++bit)
            register_ = ((register_ & top) ? (register_ << 1) ^ poly_ : register_ << 1) & mask_;
    }
}

std::uint32_t TCrcRun::Value() const {
    std::uint32_t crc = register_;
    if (model_.refin != model_.refout)
        crc = Reflect(crc, model_.width);
    return (crc ^ model_.xorout) & mask_;
}

std::uint32_t Crc(const TCrcModel& model, std::span<const std::uint8_t> bytes) {
    TCrcRun run(model);
    for (std::uint8_t byte : bytes) run.Add(byte);
    return run.Value();
}

std::span<const TCheckValue> CheckValues() {
    return kCheckValues;
}

const TCheckValue* FindCheckValue(std::string_view name) {
    for (const TCheckValue& check : kCheckValues) {
        if (SameLetters(check.name, name) || SameLetters(check.alias, name))
            return &check;
    }
    return nullptr;
}

std::uint32_t CheckValueOf(const TCheckValue& check, std::span<const std::uint8_t> bytes) {
    switch (check.kind) {
        case TCheckKind::Sum:
            return CalcSum(bytes.data(), static_cast<int>(bytes.size()));
        case TCheckKind::Lrc:
            return static_cast<std::uint8_t>(
                -CalcSum(bytes.data(), static_cast<int>(bytes.size())));
        case TCheckKind::Bcc:
        case TCheckKind::NmeaXor: {
            if (check.kind == TCheckKind::NmeaXor) {
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    if (bytes[i] == '$') {
                        bytes = bytes.subspan(i + 1);
                        break;
                    }
                }
            }
            std::uint8_t x = 0;
            for (std::uint8_t byte : bytes) x ^= byte;
            return x;
        }
        case TCheckKind::Crc:
            return Crc(check.crc, bytes);
    }
    return 0;
}

std::string CheckValueBytes(const TCheckValue& check, std::span<const std::uint8_t> bytes) {
    const std::uint32_t value = CheckValueOf(check, bytes);
    if (check.kind == TCheckKind::Bcc)
        return HexPair(static_cast<std::uint8_t>(value));
    if (check.kind == TCheckKind::NmeaXor) {
        // Appended rather than "*" + ...: GCC 12 warns falsely (-Wrestrict) on that insert.
        std::string text(1, '*');
        text += HexPair(static_cast<std::uint8_t>(value));
        return text;
    }
    const int count = ValueBytes(check);
    std::string out;
    for (int i = 0; i < count; ++i) {
        const int shift = 8 * (check.order == TByteOrder::LowFirst ? i : count - 1 - i);
        out += static_cast<char>((value >> shift) & 0xFF);
    }
    return out;
}

Text CheckValueTokens(const TCheckValue& check, std::span<const std::uint8_t> bytes) {
    const std::string value = CheckValueBytes(check, bytes);
    if (check.kind == TCheckKind::Bcc || check.kind == TCheckKind::NmeaXor)
        return "\"" + value + "\"";  // printable, never a quote
    Text tokens;
    for (char byte : value) {
        if (!tokens.empty())
            tokens += ' ';
        tokens += "0x" + HexPair(static_cast<std::uint8_t>(byte));
    }
    return tokens;
}

std::string CheckValueCaption(const TCheckValue& check) {
    std::string caption(check.name);
    std::string notes(check.alias);
    if (ValueBytes(check) > 1) {
        if (!notes.empty())
            notes += ", ";
        notes += check.order == TByteOrder::LowFirst ? "low byte first" : "high byte first";
    }
    return notes.empty() ? caption : caption + " (" + notes + ")";
}

std::string EncodeLine(const Text& line) {
    StrToTokens(line);
    TokensToBytes();
    return std::string(ByteBuf.begin(), ByteBuf.begin() + ByteLen);
}

std::size_t HeadBeforeTail(const Text& line, std::size_t tailLength, const TTailFor& tailFor) {
    std::size_t end = line.size();
    while (end > 0 && IsBlank(line[end - 1])) --end;
    if (tailLength == 0 || end < tailLength)
        return Text::npos;
    const Text head = line.substr(0, end - tailLength);
    std::string headBytes;
    std::string lineBytes;
    try {
        headBytes = EncodeLine(head);
        lineBytes = EncodeLine(line);
    } catch (const tarvik::EConvertError&) {
        return Text::npos;  // no check value over it; the caller's own encoding reports it
    } catch (const ELineError&) {
        return Text::npos;
    }
    const Text tail = tailFor(head, headBytes);
    if (tail.size() != tailLength || line.compare(head.size(), tailLength, tail) != 0)
        return Text::npos;
    const std::string tailBytes = EncodeLine(tail);
    return lineBytes == headBytes + tailBytes ? head.size() : Text::npos;
}

Text AppendCheckValue(const TCheckValue& check, const Text& line) {
    const auto bytesOf = [](const std::string& bytes) {
        return std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    };
    // The tokens' length does not depend on the value.
    const std::size_t tokensLength = CheckValueTokens(check, {}).size();
    const std::size_t head =
        HeadBeforeTail(line, tokensLength, [&](const Text& text, const std::string& bytes) {
            // Our own tail follows a space, or stands alone on the line.
            if (!text.empty() && !IsBlank(text.back()))
                return Text();
            return CheckValueTokens(check, bytesOf(bytes));
        });
    Text body = head == Text::npos ? line : line.substr(0, head);
    std::size_t end = body.size();
    while (end > 0 && IsBlank(body[end - 1])) --end;
    body.resize(end);
    const std::string bytes = EncodeLine(body);
    return body + (body.empty() ? "" : " ") + CheckValueTokens(check, bytesOf(bytes));
}

}  // namespace fun
