// Send, the command source, the send history and the timer tick.

#include "app/frmmain.h"

namespace tarvik {

void Tfrmmain::ConnectSendHandlers() {}

void Tfrmmain::BitBtn1Click() {}

Text Tfrmmain::GetCommandText() const {
    return {};
}

void Tfrmmain::ComboBox1Enter() {}

void Tfrmmain::TX1Enter() {}

void Tfrmmain::T1Timer() {}

}  // namespace tarvik
