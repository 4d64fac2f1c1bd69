// The program started with a German LANG on a machine where that locale is
// not installed still finds its German catalog for Qt's own texts.

#include "base/translation.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <clocale>

#include "app/executable_dir.h"
#include "app_test.h"
#include "base/qt_translator.h"

namespace tarvik {

class TranslationTest : public QObject {
    Q_OBJECT

  private:
    static QString RunHelp(const QString& lang) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) env.remove(name);
        env.insert(QStringLiteral("LANG"), lang);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TARVIK2_EXE), {QStringLiteral("--help")});
        if (!program.waitForFinished(30000) || program.exitCode() != 0)
            return {};
        return QString::fromUtf8(program.readAllStandardOutput());
    }

  private slots:
    void germanWithoutTheLocaleInstalled() {
        // Whether or not de_DE is installed here, the route must work; on the
        // build machines it is not, which is the case this test is for.
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
            qInfo("de_DE.UTF-8 is installed on this machine");
        }
        std::setlocale(LC_ALL, "C");
        const QString help = RunHelp(QStringLiteral("de_DE.UTF-8"));
        QVERIFY2(help.contains(QStringLiteral("Optionen:")), qPrintable(help));
        QVERIFY2(help.contains(QStringLiteral("Zeigt die Versionsinformationen an.")),
                 qPrintable(help));
    }

    // In this process: Qt's own button texts come from the "default" catalog.
    void qtTextsPassThroughTheCatalog() {
        qputenv("LANG", "de_DE.UTF-8");
        qunsetenv("LANGUAGE");
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        InitTranslation(ExecutableDir() + "/locale");
        GettextTranslator translator;
        QVERIFY(!translator.isEmpty());
        QVERIFY(translator.translate("QPlatformTheme", "no such text").isNull());
        QVERIFY(QCoreApplication::installTranslator(&translator));

        QMessageBox box(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
        QCOMPARE(QCoreApplication::translate("QLineEdit", "&Paste"),
                 QStringLiteral("Einf&\u00FCgen"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Not in the catalog"),
                 QStringLiteral("Not in the catalog"));
        QCoreApplication::removeTranslator(&translator);
    }

    void untranslatedLanguageKeepsTheOriginal() {
        const QString help = RunHelp(QStringLiteral("fr_FR.UTF-8"));
        QVERIFY2(help.contains(QStringLiteral("Options:")), qPrintable(help));
        QVERIFY(help.contains(QStringLiteral("Displays version information.")));
    }
};

}  // namespace tarvik

TARVIK_APP_TEST_MAIN(tarvik::TranslationTest)
#include "translation_test.moc"
