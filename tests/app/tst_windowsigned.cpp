// Signed kits in the window: the policy comes from vxupgrade.conf; a kit
// changed after signing is refused before any write, a signed one shows its
// signer in the memo.
#include "TestMain.h"
#include "WindowFixture.h"

#include "app/Uvxupgrade.h"
#include "support/RunFixture.h"
#include "support/SignifyTool.h"
#include "support/SimInstrument.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProcess>

class TestWindowSigned : public QObject
{
    Q_OBJECT

private slots:
    void refusedThenAccepted()
    {
        QTemporaryDir config;
        QVERIFY(signify::generate(config.filePath("publisher")).isEmpty());
        QDir().mkpath(config.filePath("vxupgrade"));
        QFile settings(config.filePath("vxupgrade/vxupgrade.conf"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("# lab policy\ntrusted-key = " + config.filePath("publisher.pub").toUtf8() + "\n");
        settings.close();
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder kit;
        kit.writeIni({{3, "KRN3", 0}});
        kit.write("target/KRN3/k.bin", sampleBytes(5000, 1));
        kit.write("MainFrame/m.bin", sampleBytes(700, 2));
        QProcess cli;
        cli.start(QStringLiteral(VX_CLI_PROGRAM), {"--write-checksums", kit.path()});
        QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
        QVERIFY(signify::signEmbedded(config.filePath("publisher.sec"), kit.path() + "SHA256",
                                      kit.path() + "SHA256.sig")
                    .isEmpty());

        for (const bool spoiled : {true, false}) {
            const QByteArray original = sampleBytes(700, 2);
            kit.write("MainFrame/m.bin", spoiled ? QByteArray("changed") : original);
            BoxLog boxes;
            TfrmMain window(kit.path(), sim.ports());
            window.ipAddressText = QStringLiteral("127.0.0.1");
            window.show();
            pressCopy(window);
            const QStringList memo = memoLines(controls(window).mmStatus);
            if (spoiled) {
                QVERIFY2(memo.filter("File differs from its signed digest: ").size() == 1, qPrintable(memo.join('\n')));
                // The end says why, not that a copy failed.
                QVERIFY(!boxes.shown.isEmpty());
                const RecordedBox &end = boxes.shown.last();
                QVERIFY2(end.text.startsWith("The kit was refused: nothing was written to VX900.\n\n"
                                             "File differs from its signed digest: "),
                         qPrintable(end.text));
                QCOMPARE(end.caption, QStringLiteral("VX900 Upgrade"));
                QCOMPARE(end.flags, int(platform::MB_ICONERROR));
                QVERIFY(sim.sent("ftp").filter("STOR ").isEmpty());
                QVERIFY(sim.sent("cmd").filter("MDIR").isEmpty());
            } else {
                QVERIFY2(memo.filter("untrusted comment: verify with publisher.pub").size() == 1,
                         qPrintable(memo.join('\n')));
                QCOMPARE(sim.file("/F0:/SYSTEM/m.bin"), original);
            }
        }
    }

    // A SIGNAL box ticked during the copy brings files that pre-flight did
    // not read: the signed list vouches for them too, before they go.
    void boxTickedDuringTheCopyIsHeldToTheList()
    {
        QTemporaryDir keys; // a trusted key, and no policy
        QVERIFY(QDir().mkpath(keys.filePath("vxupgrade/trusted-keys")));
        QVERIFY(signify::generate(keys.filePath("publisher")).isEmpty());
        QVERIFY(QFile::copy(keys.filePath("publisher.pub"), keys.filePath("vxupgrade/trusted-keys/publisher.pub")));
        qputenv("XDG_CONFIG_HOME", keys.path().toUtf8());
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder kit;
        kit.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}});
        kit.write("target/KRN3/k.bin", sampleBytes(5000, 1));
        kit.write("target/LPS3/l.bin", sampleBytes(300, 3));
        kit.write("target/LPS3/SIGNAL/s.wfm", sampleBytes(900, 4));
        QProcess cli;
        cli.start(QStringLiteral(VX_CLI_PROGRAM), {"--write-checksums", kit.path()});
        QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
        QVERIFY(signify::signEmbedded(keys.filePath("publisher.sec"), kit.path() + "SHA256",
                                      kit.path() + "SHA256.sig")
                    .isEmpty());
        kit.write("target/LPS3/SIGNAL/s.wfm", sampleBytes(900, 5)); // unticked: pre-flight skips it

        TfrmMain window(kit.path(), sim.ports());
        window.ipAddressText = QStringLiteral("127.0.0.1");
        window.show();
        QCheckBox *lps3 = controls(window).cbLPS3;
        connect(controls(window).ProgressBar, &QProgressBar::valueChanged, &window, [&] {
            if (!lps3->isChecked())
                lps3->click();
        });
        BoxLog boxes;
        pressCopy(window);
        const QStringList memo = memoLines(controls(window).mmStatus);
        QVERIFY2(memo.filter("File differs from its signed digest: ").size() == 1, qPrintable(memo.join('\n')));
        QVERIFY(!sim.files().contains("LPS3/SIGNAL/s.wfm"));
        QVERIFY(boxes.texts().contains("Upload failed"));
    }
};

VX_TEST_MAIN(TestWindowSigned)
#include "tst_windowsigned.moc"
