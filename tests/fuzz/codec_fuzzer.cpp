// Any line the user can type goes through the tokenizer, the encoder and the
// display formatter without touching memory it does not own, and whatever it
// accepts obeys the codec's limits. Every check value appended to it encodes
// to the line's bytes and that value, or replaces a tail that already was it;
// appending again changes nothing. The text and hex conversions give a
// notation of exactly the bytes they read.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/int_conversion.h"
#include "codec/check_value.h"
#include "codec/fun.h"
#include "codec/notation.h"

namespace {

std::span<const std::uint8_t> Bytes(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// Whether the bytes end in the check value over the bytes before it.
bool EndsInCheckValue(const fun::TCheckValue& check, const std::string& bytes) {
    const std::size_t size = fun::CheckValueBytes(check, {}).size();
    if (bytes.size() < size)
        return false;
    const std::string head = bytes.substr(0, bytes.size() - size);
    return head + fun::CheckValueBytes(check, Bytes(head)) == bytes;
}

void CheckAppended(const std::string& line) {
    std::string bytes;
    try {
        bytes = fun::EncodeLine(line);
    } catch (const tarvik::EConvertError&) {
        return;
    } catch (const fun::ELineError&) {
        return;
    }
    for (const fun::TCheckValue& check : fun::CheckValues()) {
        try {
            const tarvik::Text appended = fun::AppendCheckValue(check, line);
            const std::string now = fun::EncodeLine(appended);
            if (now != bytes + fun::CheckValueBytes(check, Bytes(bytes)) &&
                !(now == bytes && EndsInCheckValue(check, bytes)))
                std::abort();
            if (fun::AppendCheckValue(check, appended) != appended)
                std::abort();
        } catch (const fun::ELineError&) {  // more than 256 bytes with the value
        }
    }
}

void CheckConversions(const std::string& line) {
    if (line.size() <= fun::kTableSize && fun::EncodeLine(fun::BytesToNotation(line)) != line)
        std::abort();
    for (const auto convert : {fun::TextToNotation, fun::HexToNotation}) {
        try {
            fun::EncodeLine(convert(line));
        } catch (const fun::ENotationError&) {
        } catch (const fun::ELineError&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    bool encoded = false;
    try {
        const int count = fun::StrToTokens(line);
        if (count != fun::TokenCount || count < 0 || count > fun::kTableSize)
            std::abort();
        encoded = fun::TokensToBytes();
        if (!encoded)
            std::abort();  // the tokenizer never stores a token of no form
    } catch (const tarvik::EConvertError&) {
    } catch (const fun::ELineError&) {
    }
    if (fun::ByteLen < 0 || fun::ByteLen > fun::kTableSize)
        std::abort();
    if (encoded && fun::TokenCount != 0)
        std::abort();

    const std::string bytes(fun::ByteBuf.begin(), fun::ByteBuf.begin() + fun::ByteLen);
    for (bool ascii : {false, true}) {
        const std::string shown = fun::BytesToDisplay(bytes, ascii);
        for (char c : shown) {
            if (!(fun::IsLetter(c) || fun::IsDigit(c) || c == ' '))
                std::abort();
        }
    }
    fun::CalcSum(fun::ByteBuf.data(), fun::ByteLen);
    fun::CalcBcc(fun::ByteBuf.data(), fun::ByteLen);
    CheckAppended(line);
    CheckConversions(line);
    return 0;
}
