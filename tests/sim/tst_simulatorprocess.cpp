#include "sim/SimulatorProcess.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QtTest>

// The C++ side of the simulator contract: start, ready line, transcript, stop.
class TestSimulatorProcess : public QObject
{
    Q_OBJECT

private slots:
    void parsesReadyLines_data();
    void parsesReadyLines();
    void startsTalksAndStops();
    void reportsAFailedStart();
};

void TestSimulatorProcess::parsesReadyLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("ftp");
    QTest::addColumn<QString>("drive");
    QTest::newRow("plain") << QByteArray("ready cmd=5000 ftp=21 drive=/tmp/d\n") << true << 5000 << 21 << "/tmp/d";
    QTest::newRow("blank in drive") << QByteArray("ready cmd=1 ftp=2 drive=/tmp/a b") << true << 1 << 2 << "/tmp/a b";
    QTest::newRow("no drive") << QByteArray("ready cmd=1 ftp=2\n") << false << 0 << 0 << "";
    QTest::newRow("empty drive") << QByteArray("ready cmd=1 ftp=2 drive=\n") << false << 0 << 0 << "";
    QTest::newRow("port 0") << QByteArray("ready cmd=0 ftp=2 drive=/d") << false << 0 << 0 << "";
    QTest::newRow("port too big") << QByteArray("ready cmd=65536 ftp=2 drive=/d") << false << 0 << 0 << "";
    QTest::newRow("swapped") << QByteArray("ready ftp=2 cmd=1 drive=/d") << false << 0 << 0 << "";
    QTest::newRow("other line") << QByteArray("Traceback (most recent call last):") << false << 0 << 0 << "";
}

void TestSimulatorProcess::parsesReadyLines()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    QFETCH(int, cmd);
    QFETCH(int, ftp);
    QFETCH(QString, drive);
    quint16 cmdPort = 0;
    quint16 ftpPort = 0;
    QString driveFolder;
    QCOMPARE(SimulatorProcess::parseReadyLine(line, cmdPort, ftpPort, driveFolder), valid);
    QCOMPARE(int(cmdPort), cmd);
    QCOMPARE(int(ftpPort), ftp);
    QCOMPARE(driveFolder, drive);
}

void TestSimulatorProcess::startsTalksAndStops()
{
    SimulatorProcess sim({QStringLiteral("--idn"), QStringLiteral("ALVO/BRECKMOOR,VX900,T1,9")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(sim.cmdPort() != 0 && sim.ftpPort() != 0 && sim.cmdPort() != sim.ftpPort());
    QVERIFY(QDir(sim.hostPath(QStringLiteral("/F0:/SYSTEM"))).exists());

    QTcpSocket channel;
    channel.connectToHost(QStringLiteral("127.0.0.1"), sim.cmdPort());
    QVERIFY(channel.waitForConnected(10000));
    channel.write("*IDN?\n");
    for (int guard = 0; guard < 100 && !channel.canReadLine(); ++guard)
        QVERIFY(channel.waitForReadyRead(10000));
    QCOMPARE(channel.readLine(), QByteArray("ALVO/BRECKMOOR,VX900,T1,9\n"));
    channel.close();

    QCOMPARE(sim.lines(QStringLiteral("cmd"), QStringLiteral("in")), QStringList{QStringLiteral("*IDN?")});
    const QString drive = sim.drive();
    QCOMPARE(sim.stop(), 0);
    QVERIFY(!QDir(drive).exists()); // its own drive is gone with it
    QCOMPARE(sim.lines(QStringLiteral("sim"), QStringLiteral("event")).last(), QStringLiteral("stop"));
}

void TestSimulatorProcess::reportsAFailedStart()
{
    SimulatorProcess sim({QStringLiteral("--stor-fail"), QStringLiteral("bogus")});
    QVERIFY(!sim.start());
    QVERIFY2(sim.errorString().contains(QStringLiteral("--stor-fail")), qPrintable(sim.errorString()));
    QCOMPARE(sim.stop(), 2);
}

QTEST_GUILESS_MAIN(TestSimulatorProcess)
#include "tst_simulatorprocess.moc"
