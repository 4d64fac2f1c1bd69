// The start-up as a process of its own: a window that cannot be built (the
// port list unreadable) ends in the "Application Error" box and exit code 1
// without the window being shown; a command line it cannot follow ends with
// exit code 2 before any window; no display ends in one line and exit code 1;
// a window told to end by a signal closes its port, removes its lock file and
// finishes its capture first; a file asked for by --send-file goes once the
// port has opened.

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>

#include "app/command_line.h"
#include "serial/device/port_lock.h"
#include "tests/app/line_fixtures.h"
#include "tests/transfer/peers.h"

namespace tarvik {

class StartupTest : public QObject {
    Q_OBJECT

  private:
    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };

    // `display`: the environment of the window system, an empty value unset.
    static Run Start(const QStringList& arguments, const QString& ttyClassDir,
                     const QMap<QString, QString>& display = {
                         {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}}) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        for (auto setting = display.begin(); setting != display.end(); ++setting) {
            if (!setting.value().isEmpty())
                env.insert(setting.key(), setting.value());
        }
        env.insert(QStringLiteral("TARVIK_TTY_CLASS_DIR"), ttyClassDir);
        env.insert(QStringLiteral("TARVIK_SHOWN_STAMP"), QStringLiteral("1"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(STARTUP_DRIVER), arguments);
        Run run;
        if (!program.waitForFinished(60000)) {
            program.kill();
            program.waitForFinished();
            return run;
        }
        run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -2;
        run.out = QString::fromUtf8(program.readAllStandardOutput());
        run.err = QString::fromUtf8(program.readAllStandardError());
        return run;
    }

    // The window started with Start clicked once it is shown.
    static void StartClicked(QProcess& program, const QStringList& arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TARVIK_DRIVER_START"), QStringLiteral("1"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(STARTUP_DRIVER), arguments);
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT((out += program.readAllStandardOutput()).contains("started"),
                                 30000);
        QCOMPARE(out, QStringLiteral("started\n"));
    }

  private slots:
    void unreadablePortListEndsTheProgram() {
        QTemporaryDir dir;
        const Run run = Start({}, dir.filePath(QStringLiteral("missing")));
        QCOMPARE(run.exitCode, 1);
        const QString text =
            QStringLiteral("Exception cport::EComPort: Registry error (win error code: 2)");
        QCOMPARE(run.out, "box|Application Error|error|no owner|" + text + "\n");
        QVERIFY2(run.err.contains("tarvik2: Application Error: " + text), qPrintable(run.err));
        QVERIFY2(!run.err.contains(QStringLiteral("window shown")), qPrintable(run.err));
    }

    void commandLineMistakes_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("two ports")
            << QStringList{"ttyUSB0", "ttyUSB1"} << "Only one port can be given, not 2";
        QTest::newRow("unknown option") << QStringList{"--speed=9600"} << "Unknown option 'speed'.";
        QTest::newRow("empty port") << QStringList{""} << "The port name is empty";
        QTest::newRow("two captures") << QStringList{"--capture", "a.cap", "--capture", "b.cap"}
                                      << "--capture can be given once";
        QTest::newRow("empty capture file")
            << QStringList{"--capture-raw="} << "The file name of --capture-raw is empty";
        QTest::newRow("one file for both captures")
            << QStringList{"--capture", "a.cap", "--capture-raw", "a.cap"}
            << "--capture and --capture-raw name the same file";
        QTest::newRow("capture to show missing")
            << QStringList{"--open-capture", "/nonexistent/a.cap"}
            << "Cannot open file \"/nonexistent/a.cap\". No such file or directory";
        QTest::newRow("two sequence sets")
            << QStringList{"--sequences", "a.seq", "--sequences", "b.seq"}
            << "--sequences can be given once";
        QTest::newRow("sequence set missing")
            << QStringList{"--sequences", "/nonexistent/a.seq"}
            << "Cannot open file \"/nonexistent/a.seq\". No such file or directory";
        QTest::newRow("capture into no folder")
            << QStringList{"--capture", "/nonexistent/folder/a.cap"}
            << "Cannot create file /nonexistent/folder/a.cap: No such file or directory";
        QTest::newRow("plot format unknown")
            << QStringList{"--plot", "--plot-format", "json"}
            << "--plot-format cannot take 'json' (csv or labels)";
        QTest::newRow("two plot formats")
            << QStringList{"--plot-format", "csv", "--plot-format=labels"}
            << "--plot-format can be given once";
    }
    void commandLineMistakes() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const Run run = Start(arguments, dir.path());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("tarvik2: " + message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    // Qt alone would abort with status 134 and advice to reinstall.
    void withoutDisplayOneLineAndStatusOne_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("x11");
        QTest::addColumn<QString>("line");
        QTest::newRow("nothing set") << "" << "" << "no display (DISPLAY is not set)";
        QTest::newRow("a display nobody serves")
            << "" << ":977" << "the display \":977\" cannot be reached";
        QTest::newRow("X asked for, none there")
            << "xcb" << "" << "the window system \"xcb\" could not be started";
    }
    void withoutDisplayOneLineAndStatusOne() {
        QFETCH(QString, platform);
        QFETCH(QString, x11);
        QFETCH(QString, line);
        QTemporaryDir dir;
        const Run run = Start({}, dir.path(),
                              {{QStringLiteral("QT_QPA_PLATFORM"), platform},
                               {QStringLiteral("DISPLAY"), x11}});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, "tarvik2: cannot show the window: " + line + "\n");
        QVERIFY(run.out.isEmpty());
    }

    // SIGTERM (kill PID), SIGINT (Ctrl+C) and SIGHUP (the terminal closed) to
    // a window whose port is open and captured.
    void stopSignalsEndCleanly_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void stopSignalsEndCleanly() {
        QFETCH(int, signal);
        QTemporaryDir dir;
        test::SimulatorThread simulator({});
        const QString capture = dir.filePath(QStringLiteral("session.cap"));
        QProcess program;
        const QString port = QString::fromStdString(simulator.Path());
        StartClicked(program, {QStringLiteral("--capture"), capture, port});
        const std::string device = std::filesystem::canonical(simulator.Path()).string();
        const QString lock =
            QString::fromStdString("/run/lock/" + cport::device::LockFileName(device, false));
        // Where the lock folder is ours to write (it is on Debian).
        const bool locked = ::access("/run/lock", W_OK) == 0;
        QCOMPARE(QFile::exists(lock), locked);

        QCOMPARE(::kill(pid_t(program.processId()), signal), 0);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 128 + signal);
        QVERIFY2(!QFile::exists(lock), qPrintable(lock));
        QFile file(capture);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray records = file.readAll();
        QVERIFY2(records.endsWith(" ev closed\n"), records.constData());
    }

    // --send-file with --send-mode: once Start has opened the port, the file
    // goes by YMODEM to lrzsz's rb and arrives whole.
    void sendFileAtStartUp() {
        transfer::test::TempDir dir;
        transfer::test::PtyPair pair(dir.Path());
        const std::string content = transfer::test::RandomBytes(5000, 11);
        transfer::test::WriteFile(dir.File("start.bin"), content);
        QVERIFY(QDir().mkpath(QString::fromStdString(dir.File("far"))));
        transfer::test::Peer rb({"rb", "-b"}, pair.B(), dir.File("far"));
        QProcess program;
        StartClicked(program, {QStringLiteral("--send-file"), QString::fromStdString(dir.File("start.bin")),
                               QStringLiteral("--send-mode"), QStringLiteral("ymodem"),
                               QString::fromStdString(pair.A())});
        QCOMPARE(rb.Wait(), 0);
        QVERIFY(transfer::test::ReadFile(dir.File("far/start.bin")) == content);
        QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 128 + SIGTERM);
        QVERIFY2(!program.readAllStandardOutput().contains("box|"), "no box");
    }

    void portArgument_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("port");
        QTest::newRow("none") << QStringList{"tarvik2"} << "";
        QTest::newRow("name") << QStringList{"tarvik2", "ttyUSB0"} << "ttyUSB0";
        QTest::newRow("path") << QStringList{"tarvik2", "/dev/pts/3"} << "/dev/pts/3";
        QTest::newRow("after --") << QStringList{"tarvik2", "--", "-odd"} << "-odd";
    }
    void portArgument() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, port);
        QCOMPARE(QString::fromStdString(PortArgument(arguments)), port);
    }
};

}  // namespace tarvik

QTEST_GUILESS_MAIN(tarvik::StartupTest)
#include "startup_test.moc"
