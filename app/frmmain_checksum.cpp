// SUM and BCC: frame the command line with a start byte and a check value.
// Each step writes its result into the command line before the next step reads
// it, so a line that fails to encode keeps the start-byte prefix in front of the
// body; pressing the button again after the correction then finds the prefix.

#include <QComboBox>

#include "app/frmmain.h"
#include "app/latin1_text.h"
#include "codec/fun.h"

namespace tarvik {

namespace {

// The characters from position `from` (counted from 1) on, at most `count` of
// them; none when count is 0 or less.
Text Copy(const Text& text, std::size_t from, int count) {
    if (count <= 0 || from > text.size())
        return {};
    return text.substr(from - 1, static_cast<std::size_t>(count));
}

void Encode(const Text& text) {
    fun::StrToTokens(text);
    fun::TokensToBytes();
}

}  // namespace

void Tfrmmain::SetCommandLine(const std::string& text) {
    ComboBox1->setEditText(FromText(text));
}

void Tfrmmain::BitBtn4Click() {
    Text t = ToText(ComboBox1->currentText());
    if (t.starts_with("0x33")) {  // an earlier SUM frame: drop its first and last 5 characters
        t = Copy(t, 6, static_cast<int>(t.size()) - 10);
        SetCommandLine(t);
    }
    t = "0x33 " + t;
    SetCommandLine(t);
    Encode(t);
    t += t.ends_with(' ') ? "0x" : " 0x";
    SetCommandLine(t);
    const std::uint8_t sum = fun::CalcSum(fun::ByteBuf.data(), fun::ByteLen);
    t += fun::HexDigit(sum >> 4);
    t += fun::HexDigit(sum & 0x0F);
    SetCommandLine(t);
}

void Tfrmmain::BitBtn5Click() {
    Text t = ToText(ComboBox1->currentText());
    if (t.starts_with("0x09")) {  // an earlier BCC frame: drop its first 5 and last 9 characters
        t = Copy(t, 6, static_cast<int>(t.size()) - 14);
        SetCommandLine(t);
    }
    t = "0x09 " + t;
    SetCommandLine(t);
    Encode(t);
    const Text bcc = fun::CalcBcc(fun::ByteBuf.data(), fun::ByteLen);
    t += t.ends_with(' ') ? "\"" : " \"";
    SetCommandLine(t);
    t += bcc + "\" 0x0D";
    SetCommandLine(t);
}

}  // namespace tarvik
