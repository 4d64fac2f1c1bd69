// Any line the user can type goes through the tokenizer, the encoder and the
// display formatter without touching memory it does not own, and whatever it
// accepts obeys the codec's limits.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/int_conversion.h"
#include "codec/fun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    bool encoded = false;
    try {
        const int count = fun::StrToTokens(line);
        if (count != fun::TokenCount || count < 0 || count > fun::kTableSize) std::abort();
        encoded = fun::TokensToBytes();
        if (!encoded) std::abort();  // the tokenizer never stores a token of no form
    } catch (const tarvik::EConvertError&) {
    } catch (const fun::ELineError&) {
    }
    if (fun::ByteLen < 0 || fun::ByteLen > fun::kTableSize) std::abort();
    if (encoded && fun::TokenCount != 0) std::abort();

    const std::string bytes(fun::ByteBuf.begin(), fun::ByteBuf.begin() + fun::ByteLen);
    for (bool ascii : {false, true}) {
        const std::string shown = fun::BytesToDisplay(bytes, ascii);
        for (char c : shown) {
            if (!(fun::IsLetter(c) || fun::IsDigit(c) || c == ' ')) std::abort();
        }
    }
    fun::CalcSum(fun::ByteBuf.data(), fun::ByteLen);
    fun::CalcBcc(fun::ByteBuf.data(), fun::ByteLen);
    return 0;
}
