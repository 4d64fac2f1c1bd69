#pragma once
// Text forms of the port settings, as settings storage and the property
// selectors show and read them. Stateless; any thread.
//
// Value -> text gives the entry of the value's text list (an enumeration
// value outside its list throws std::out_of_range). Text -> value compares
// with ASCII letters upper-cased, blanks included ("9600" matches, " 9600"
// does not), and gives a fixed default for a text that matches no entry.

#include <string>
#include <string_view>

#include "base/text.h"
#include "serial/port/com_types.h"

namespace cport {

// "Custom", "110", ..., "256000"; default br9600.
tarvik::Text BaudRateToText(TBaudRate value);
TBaudRate TextToBaudRate(std::string_view text);

// "1", "1.5", "2"; default sbOneStopBit.
tarvik::Text StopBitsToText(TStopBits value);
TStopBits TextToStopBits(std::string_view text);

// "5", "6", "7", "8"; default dbEight.
tarvik::Text DataBitsToText(TDataBits value);
TDataBits TextToDataBits(std::string_view text);

// "None", "Odd", "Even", "Mark", "Space"; default prNone.
tarvik::Text ParityToText(TParityBits value);
TParityBits TextToParity(std::string_view text);

// "Hardware", "Software", "None", "Custom"; default fcCustom.
tarvik::Text FlowControlToText(TFlowControl value);
TFlowControl TextToFlowControl(std::string_view text);

// "Disable", "Enable", "Handshake"; default dtrDisable.
tarvik::Text DTRControlToText(TDTRFlowControl value);
TDTRFlowControl TextToDTRControl(std::string_view text);

// "Disable", "Enable", "Handshake", "Toggle"; default rtsDisable.
tarvik::Text RTSControlToText(TRTSFlowControl value);
TRTSFlowControl TextToRTSControl(std::string_view text);

// Codes 33..127 as the character itself, every other code as "#" and the
// decimal code ("#0", "#32", "#255").
tarvik::Text CharToText(char value);
// "" -> 0; a text not starting with "#", or "#" alone -> its first character;
// otherwise the rest in the program's integer notation, low 8 bits ("#65",
// "#$41" -> 'A'; "#-1" -> 255). A rest that is no such number gives 0.
char TextToChar(std::string_view text);

// "Yes" / "No"; only "YES" in any letter case reads as true.
tarvik::Text BoolToText(bool value);
bool TextToBool(std::string_view text);

}  // namespace cport
