// The receive log: one line per arrival at the top of the active log.

#include "app/frmmain.h"

namespace tarvik {

void Tfrmmain::C1RxChar(QObject*, std::int32_t) {}

void Tfrmmain::AddRxLine(const QString&) {}

}  // namespace tarvik
