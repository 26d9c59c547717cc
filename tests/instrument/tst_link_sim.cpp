// The link against the instrument simulator: a real command-channel peer
// and a real FTP server (pyftpdlib), with faults injected by option.
#include "BoxRecorder.h"
#include "FakePeer.h"

#include "instrument/LinkError.h"
#include "ftp/TNMFTP.h"
#include "instrument/TClientSocket.h"
#include "instrument/Uvx900.h"
#include "sim/SimulatorProcess.h"

#include <QtTest>

#include <memory>

namespace {

const QString UploadFailed = "Upload failed";

std::unique_ptr<TfrmVX900> linkTo(quint16 commandPort, quint16 ftpPort)
{
    auto link = std::make_unique<TfrmVX900>(nullptr, InstrumentPorts{commandPort, ftpPort});
    // Short bounds: a test that goes wrong fails instead of waiting a minute.
    link->ClientSocket->TimeOut = 10000;
    link->NMFTP->TimeOut = 10000;
    return link;
}

std::unique_ptr<TfrmVX900> linkTo(const SimulatorProcess &sim)
{
    return linkTo(sim.cmdPort(), sim.ftpPort());
}

// One channel's records, as "<connection>:<text>", in order.
QStringList records(const SimulatorProcess &sim, const QString &chan, bool withReplies)
{
    QStringList texts;
    for (const QJsonObject &record : sim.transcript()) {
        if (record["chan"].toString() == chan && (withReplies || record["dir"].toString() != "out"))
            texts << QString::number(record["conn"].toInt()) + ":" + record["text"].toString();
    }
    return texts;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestLinkSimulator : public QObject
{
    Q_OBJECT

    QTemporaryDir scratch;

    // A local file of `size` bytes with every byte value and CR LF pairs.
    QString localFile(const QString &name, int size)
    {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i % 7 == 0 ? '\r' : i % 7 == 1 ? '\n' : i * 31);
        QFile file(scratch.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void connectRefusedShowsOneBoxAndSendsNoFtp()
    {
        SimulatorProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        // The command channel's port refuses; the simulator's FTP port is
        // right and must not hear from the link.
        auto link = linkTo(closedLoopbackPort(), sim.ftpPort());
        BoxRecorder boxes;
        QVERIFY(!link->Connect("127.0.0.1"));
        QCOMPARE(boxes.texts(), QStringList{"Can't connect VX900.\n\nPlease check IP address."});
        QVERIFY(!link->NMFTP->Connected);
        sim.stop();
        QCOMPARE(records(sim, "ftp", true), QStringList());
    }

    void connectIdentifiesAndDisconnectClosesBoth()
    {
        SimulatorProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        BoxRecorder boxes;
        QVERIFY(link->Connect("127.0.0.1"));
        QVERIFY(link->ClientSocket->Active());
        QVERIFY(link->NMFTP->Connected);
        QCOMPARE(link->IdentityReply, QByteArray("ALVO/BRECKMOOR,VX900,SIM0001,1.00"));
        link->Disconnect();
        QVERIFY(!link->ClientSocket->Active());
        QVERIFY(!link->NMFTP->Connected);
        QCOMPARE(boxes.boxes.size(), 0);
        sim.stop();
        QCOMPARE(sim.lines("cmd", "in"), QStringList{"*IDN?"});
        QCOMPARE(sim.lines("ftp", "in"), (QStringList{"USER kirosu", "PASS ****", "QUIT"}));
        QVERIFY(sim.lines("cmd", "event").contains("disconnect"));
    }

    void wrongIdentityShowsTheBoxAndKeepsBothOpen()
    {
        SimulatorProcess sim({"--idn", "ACME,VX800,1,1.0"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        BoxRecorder boxes;
        QVERIFY(!link->Connect("127.0.0.1"));
        QCOMPARE(boxes.texts(), QStringList{"This instrument is not a VX900.\n\nCan not continue."});
        QVERIFY(link->ClientSocket->Active());
        QVERIFY(link->NMFTP->Connected);
    }

    void secondConnectClosesBothFirst()
    {
        SimulatorProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        QVERIFY(link->Connect("127.0.0.1"));
        QVERIFY(link->Connect("127.0.0.1"));
        QVERIFY(link->ChangeDirectory("/F0:/")); // the new channel works
        sim.stop();

        // FTP: the first session quit before the second logged in.
        const QStringList ftp = records(sim, "ftp", false);
        QVERIFY(ftp.indexOf("1:QUIT") >= 0);
        QVERIFY2(ftp.indexOf("1:QUIT") < ftp.indexOf("2:USER kirosu"), qPrintable(ftp.join(" | ")));
        // Command channel: the first connection ended before the second one
        // was asked anything.
        const QStringList cmd = records(sim, "cmd", false);
        QVERIFY(cmd.indexOf("1:disconnect") >= 0);
        QVERIFY(cmd.indexOf("1:disconnect") < cmd.indexOf("2:*IDN?"));
    }

    void directoriesRoundTrip()
    {
        SimulatorProcess sim({"--free", "3000000000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        QVERIFY(link->Connect("127.0.0.1"));
        QVERIFY(!link->ChangeSubdirectory("/F0:/SYSTEM", "MID3"));
        QVERIFY(!link->HasDirectory("/F0:/SYSTEM", "MID3"));
        QVERIFY(link->MakeDirectory("/F0:/SYSTEM", "MID3"));
        QVERIFY(QFileInfo(sim.hostPath("/F0:/SYSTEM/MID3")).isDir());
        QVERIFY(!link->MakeDirectory("/F0:/SYSTEM", "MID3")); // exists already
        QVERIFY(link->HasDirectory("/F0:/SYSTEM", "MID3"));
        QVERIFY(link->ChangeSubdirectory("/F0:/SYSTEM", "MID3"));
        QVERIFY(link->ChangeSubdirectory("/F0:/", "SYSTEM")); // "/F0://SYSTEM"
        QVERIFY(!link->MakeDirectory("/F0:/NOPE", "KRN3"));
        // A drive of 2^31 bytes and more can be upgraded.
        QCOMPARE(link->FreeSpace(), qint64(3000000000));
    }

    void uploadStoresTheBytes()
    {
        SimulatorProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        QVERIFY(link->Connect("127.0.0.1"));
        link->LastTransferOk = false; // left by an earlier failure
        BoxRecorder boxes;
        link->SetTransferType(TTransferType::Image);
        const QString local = localFile("module.bin", 65537);
        QVERIFY(link->UploadFile(local, "/F0:/SYSTEM/module.bin"));
        QVERIFY(link->LastTransferOk);
        QCOMPARE(readAll(sim.hostPath("/F0:/SYSTEM/module.bin")), readAll(local));
        QCOMPARE(boxes.boxes.size(), 0);
        sim.stop();
        QVERIFY(sim.lines("ftp", "in").contains("STOR /F0:/SYSTEM/module.bin"));
        QVERIFY(!sim.lines("ftp", "in").filter(QRegularExpression("^PORT ")).isEmpty()); // active mode
    }

    void refusedUpload_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("STOR refused 553") << "553" << QStringList{UploadFailed, UploadFailed};
        QTest::newRow("STOR not supported 502")
            << "502" << QStringList{"Upload not supported by this server", UploadFailed, UploadFailed};
    }

    void refusedUpload()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, texts);
        SimulatorProcess sim({"--stor-refuse", fault});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        QVERIFY(link->Connect("127.0.0.1"));
        BoxRecorder boxes;
        try {
            (void)link->UploadFile(localFile("refused.bin", 10), "/F0:/SYSTEM/refused.bin");
            QFAIL("a refused STOR must raise");
        } catch (const ELinkError &error) {
            QVERIFY2(error.Message.startsWith(fault), qPrintable(error.Message));
        }
        QCOMPARE(boxes.texts(), texts);
        for (const BoxRecorder::Box &box : boxes.boxes)
            QCOMPARE(box.caption, QString("VX900 Upgrade ftp"));
        QVERIFY(!link->LastTransferOk);
        QVERIFY(!QFileInfo::exists(sim.hostPath("/F0:/SYSTEM/refused.bin")));
    }

    // The instrument took the bytes and then reported the store as failed:
    // a failed upload, never a success: one "Upload failed" box, then the
    // exception.
    void transferCompleteFailure()
    {
        SimulatorProcess sim({"--stor-fail", "552"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        QVERIFY(link->Connect("127.0.0.1"));
        BoxRecorder boxes;
        QVERIFY_THROWS_EXCEPTION(ELinkError,
                                 (void)link->UploadFile(localFile("full.bin", 1000), "/F0:/SYSTEM/full.bin"));
        QCOMPARE(boxes.texts(), (QStringList{UploadFailed}));
        QVERIFY(!link->LastTransferOk);
        QVERIFY(!QFileInfo::exists(sim.hostPath("/F0:/SYSTEM/full.bin")));
    }

    void uploadFailsBeforeAnyTransfer_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("localExists");
        QTest::newRow("not connected") << false << true;
        QTest::newRow("local file missing") << true << false;
    }

    void uploadFailsBeforeAnyTransfer()
    {
        QFETCH(bool, connected);
        QFETCH(bool, localExists);
        SimulatorProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto link = linkTo(sim);
        if (connected)
            QVERIFY(link->Connect("127.0.0.1"));
        BoxRecorder boxes;
        const QString local = localExists ? localFile("exists.bin", 10) : scratch.filePath("missing.bin");
        QVERIFY_THROWS_EXCEPTION(Exception, (void)link->UploadFile(local, "/F0:/SYSTEM/x.bin"));
        QCOMPARE(boxes.texts(), QStringList{UploadFailed});
        QVERIFY(!link->LastTransferOk);
        sim.stop();
        QVERIFY(sim.lines("ftp", "in").filter(QRegularExpression("^(STOR|PORT|PASV)")).isEmpty());
        QVERIFY(!QFileInfo::exists(sim.hostPath("/F0:/SYSTEM/x.bin")));
    }
};

QTEST_MAIN(TestLinkSimulator)
#include "tst_link_sim.moc"
