#pragma once
// Routes Qt's own texts (button captions of message boxes, file dialogs, the
// command-line help) through the program's gettext catalogs: "default" first,
// then every registered resource domain. Install it once on the main thread
// after InitTranslation; Qt may then call translate from any thread.

#include <QTranslator>

namespace tarvik {

class GettextTranslator : public QTranslator {
  public:
    using QTranslator::QTranslator;

    // The context is not used: a text has one translation in the catalogs.
    // Returns a null QString when no domain translates the text, so Qt keeps looking.
    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;

    // Always false: QCoreApplication ignores an "empty" translator.
    bool isEmpty() const override;
};

}  // namespace tarvik
