#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QProcess;

// Runs the instrument simulator (sim/vx900sim) for a C++ test: on 127.0.0.1,
// free ports for both channels, a fresh drive, a transcript file, and a
// bounded life (--max-seconds 300, so a crashed test leaves nothing behind).
//
//     SimulatorProcess sim({"--stor-fail", "451@2"});   // any simulator options
//     QVERIFY2(sim.start(), qPrintable(sim.errorString()));
//     link.Connect(...) against 127.0.0.1, sim.cmdPort(), sim.ftpPort();
//     QCOMPARE(sim.lines("ftp", "in").first(), QString("USER kirosu"));
//     QFile nameFile(sim.hostPath("/F0:/SYSTEM/MID3/NAME"));
//
// The simulator is found through VX_PYTHON and VX_SOURCE_DIR (set by
// vx_add_test), else through the paths this library was built with. Its
// standard error goes to a file and is quoted by errorString().
class SimulatorProcess
{
public:
    explicit SimulatorProcess(QStringList options = {});
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // Starts the simulator and waits for its ready line, at most timeoutMs.
    [[nodiscard]] bool start(int timeoutMs = 20000);
    // SIGTERM and wait; the exit status (0 after a clean stop), or -1 when
    // it never ran or had to be killed.
    int stop();

    [[nodiscard]] quint16 cmdPort() const { return cmd; }
    [[nodiscard]] quint16 ftpPort() const { return ftp; }
    // The host folder holding "F0:".
    [[nodiscard]] QString drive() const { return driveFolder; }
    // Host path of an instrument path such as "/F0:/SYSTEM/MID3/NAME".
    [[nodiscard]] QString hostPath(const QString &instrumentPath) const;
    [[nodiscard]] QString logPath() const;
    [[nodiscard]] QString errorString() const;

    // The transcript so far, one JSON object per record (keys t, chan, conn,
    // dir, text; see the notes at the top of sim/vx900sim).
    [[nodiscard]] QList<QJsonObject> transcript() const;
    // The "text" of the records of one channel ("cmd", "ftp", "sim") and
    // direction ("in", "out", "event"), in order.
    [[nodiscard]] QStringList lines(const QString &chan, const QString &dir) const;

    // Reads "ready cmd=<port> ftp=<port> drive=<folder>"; false for anything else.
    [[nodiscard]] static bool parseReadyLine(const QByteArray &line, quint16 &cmdPort,
                                             quint16 &ftpPort, QString &driveFolder);

private:
    QStringList options;
    QTemporaryDir workDir;
    std::unique_ptr<QProcess> process;
    QString failure;
    quint16 cmd = 0;
    quint16 ftp = 0;
    QString driveFolder;
};
