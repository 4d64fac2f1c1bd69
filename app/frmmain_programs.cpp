// Cal and Notepad: the desktop's calculator and text editor. A program that
// cannot be started is not reported.

#include "app/desktop_programs.h"
#include "app/frmmain.h"

namespace tarvik {

void Tfrmmain::BitBtn6Click() {
    StartFirstFound(kCalculators);
}

void Tfrmmain::BitBtn7Click() {
    StartFirstFound(kTextEditors);
}

}  // namespace tarvik
