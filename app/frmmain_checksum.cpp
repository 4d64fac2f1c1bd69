// SUM and BCC: frame the command line with a start byte and a check value.
// Each step writes its result into the command line before the next step reads
// it, so a line that fails to encode keeps the start-byte prefix in front of the
// body; pressing the button again after the correction then finds the prefix.
// A line starting with the start byte counts as the button's earlier frame,
// but its old tail goes only when it is the button's check value over the
// bytes before it: a tail that is none is what the user typed, and stays.

#include <QComboBox>

#include "app/frmmain.h"
#include "app/latin1_text.h"
#include "codec/check_value.h"
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

// The start byte of the button's frame in front: "0x33 " (or the line "0x33"
// alone). "0x331" is no start byte followed by a body but a token of its own.
bool StartsWithStartByte(const Text& t, std::string_view start) {
    return t.starts_with(start) && (t.size() == start.size() || t[start.size()] == ' ');
}

// The body of an earlier frame: the line without its first 5 characters and,
// when its last `tailLength` characters (trailing blanks aside) are the check
// value that `tailFor` gives over the text before them, without those.
Text BodyOfFrame(const Text& t, std::size_t tailLength, const fun::TTailFor& tailFor) {
    const std::size_t head = fun::HeadBeforeTail(t, tailLength, tailFor);
    return Copy(t, 6, static_cast<int>(head == Text::npos ? t.size() : head) - 5);
}

Text HexByte(std::uint8_t byte) {
    return {fun::HexDigit(byte >> 4), fun::HexDigit(byte & 0x0F)};
}

int Count(const std::string& bytes) {
    return static_cast<int>(bytes.size());
}
const std::uint8_t* Data(const std::string& bytes) {
    return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

}  // namespace

void Tfrmmain::SetCommandLine(const std::string& text) {
    ComboBox1->setEditText(FromText(text));
}

void Tfrmmain::BitBtn4Click() {
    Text t = ToText(ComboBox1->currentText());
    if (StartsWithStartByte(t, "0x33")) {  // an earlier SUM frame
        t = BodyOfFrame(t, 5, [](const Text&, const std::string& bytes) {
            return " 0x" + HexByte(fun::CalcSum(Data(bytes), Count(bytes)));
        });
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
    if (StartsWithStartByte(t, "0x09")) {  // an earlier BCC frame
        // The space before the old tail stays at the end of the body.
        t = BodyOfFrame(t, 9, [](const Text& head, const std::string& bytes) {
            if (!head.ends_with(' '))
                return Text();
            // Appended rather than "\"" + ...: GCC 12 warns falsely (-Wrestrict) on that insert.
            Text tail(1, '"');
            tail += fun::CalcBcc(Data(bytes), Count(bytes));
            tail += "\" 0x0D";
            return tail;
        });
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
