#include "base/qt_translator.h"

#include "base/translation.h"

namespace tarvik {

QString GettextTranslator::translate(const char* /*context*/, const char* sourceText,
                                     const char* /*disambiguation*/, int /*n*/) const {
    if (sourceText == nullptr || *sourceText == '\0' || !HasResourceTranslation(sourceText)) {
        return {};
    }
    return QString::fromStdString(TranslateResource(sourceText));
}

bool GettextTranslator::isEmpty() const {
    return false;
}

}  // namespace tarvik
