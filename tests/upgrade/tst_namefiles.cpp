// The module NAME files, against the simulator: folders, content, the
// temporary file's place and its removal on every way out.
#include "platform/Exception.h"
#include "support/RunFixture.h"
#include "support/RunRig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace upgrade;

namespace {

struct NameRig
{
    explicit NameRig(const QStringList &simOptions = {})
        : sim(simOptions)
    {
    }

    SimInstrument sim;
    ProgramFolder folder;
    std::unique_ptr<RunRig> rig;

    bool start(const QList<ProgramFolder::Entry> &entries)
    {
        if (!sim.start())
            return false;
        folder.writeIni(entries);
        rig = std::make_unique<RunRig>(folder.path(), sim.ports());
        return rig->link.Connect(QStringLiteral("127.0.0.1"));
    }
    UpgradeRun &run() { return rig->run; }
    [[nodiscard]] const QStringList &memo() const { return rig->observer.memo; }
};

} // namespace

class TestNameFiles : public QObject
{
    Q_OBJECT

private slots:
    void makesMissingFoldersAndFiles_data()
    {
        QTest::addColumn<QList<ProgramFolder::Entry>>("entries");
        QTest::addColumn<QStringList>("onDriveBefore"); // "path" folder or "path=content" file
        QTest::addColumn<QStringList>("driveAfter");     // "path=content"
        QTest::addColumn<int>("stors");
        QTest::addColumn<QStringList>("simOptions");

        using Entries = QList<ProgramFolder::Entry>;
        QTest::newRow("new folder and file") << Entries{{3, "KRN3", 0}} << QStringList{}
                                             << QStringList{"SYSTEM/MID3/NAME=KRN3\r\n"} << 1 << QStringList{};
        QTest::newRow("existing NAME is never rewritten")
            << Entries{{3, "KRN3", 0}} << QStringList{"SYSTEM/MID3/NAME=PRZ53\r\n"}
            << QStringList{"SYSTEM/MID3/NAME=PRZ53\r\n"} << 0 << QStringList{};
        QTest::newRow("folder without NAME gets only the file")
            << Entries{{12, "LPS3", 1}} << QStringList{"SYSTEM/MID12"} << QStringList{"SYSTEM/MID12/NAME=LPS3\r\n"} << 1 << QStringList{};
        QTest::newRow("same id twice: the first one writes")
            << Entries{{3, "KRN3", 0}, {3, "LPS3", 0}} << QStringList{} << QStringList{"SYSTEM/MID3/NAME=KRN3\r\n"} << 1 << QStringList{};
        QTest::newRow("empty name: only the line end") << Entries{{4, "", 0}} << QStringList{}
                                                       << QStringList{"SYSTEM/MID4/NAME=\r\n"} << 1 << QStringList{};
        QTest::newRow("negative id") << Entries{{-5, "SBX3", 0}} << QStringList{}
                                     << QStringList{"SYSTEM/MID-5/NAME=SBX3\r\n"} << 1 << QStringList{};
        QTest::newRow("existing NAME in a catalogue of the SCPI form")
            << Entries{{3, "KRN3", 0}} << QStringList{"SYSTEM/MID3/NAME=PRZ53\r\n"}
            << QStringList{"SYSTEM/MID3/NAME=PRZ53\r\n"} << 0 << QStringList{"--catalogue-form", "scpi"};
        QTest::newRow("empty catalogue") << Entries{} << QStringList{} << QStringList{} << 0 << QStringList{};
    }

    void makesMissingFoldersAndFiles()
    {
        QFETCH(QList<ProgramFolder::Entry>, entries);
        QFETCH(QStringList, onDriveBefore);
        QFETCH(QStringList, simOptions);
        NameRig rig(simOptions);
        QVERIFY2(rig.start(entries), qPrintable(rig.sim.errorString()));
        for (const QString &item : onDriveBefore) {
            const QStringList parts = item.split('=');
            const QString host = rig.sim.hostPath("/F0:/" + parts[0]);
            QDir().mkpath(parts.size() == 1 ? host : QFileInfo(host).absolutePath());
            if (parts.size() == 2) {
                QFile file(host);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(parts[1].toUtf8());
            }
        }

        QVERIFY(rig.run().MakeNameFiles());

        QStringList after;
        for (const QString &path : rig.sim.files())
            after.append(path + '=' + QString::fromUtf8(rig.sim.file("/F0:/" + path)));
        QTEST(after, "driveAfter");
        const QStringList ftp = rig.sim.sent("ftp");
        QVERIFY(ftp.contains("TYPE A"));
        QTEST(int(ftp.filter("STOR ").size()), "stors");
        if (!ftp.filter("STOR ").isEmpty())
            QVERIFY(ftp.indexOf("TYPE A") < ftp.indexOf(ftp.filter("STOR ").first()));
        QVERIFY(rig.memo().isEmpty());
    }

    void thirdFolderFailing()
    {
        NameRig rig({"--mdir-fail-after", "2"});
        QVERIFY2(rig.start({{1, "KRN3", 0}, {2, "LPS3", 0}, {3, "QMX53", 0}, {4, "SBX3", 0}}),
                 qPrintable(rig.sim.errorString()));
        QVERIFY(!rig.run().MakeNameFiles());
        QCOMPARE(rig.sim.files(), (QStringList{"SYSTEM/MID1/NAME", "SYSTEM/MID2/NAME"}));
        QVERIFY(!rig.sim.sent("cmd").join('\n').contains("MID4"));
    }

    // The temporary place: TEMP, then TMP, then TMPDIR, then the system's
    // folder. Only the chosen place is usable in each row, so a wrong choice
    // shows as the two memo lines; the file is gone afterwards.
    void temporaryFolderChoice_data()
    {
        QTest::addColumn<QStringList>("variables"); // TEMP, TMP, TMPDIR; "ok", "bad" or unset
        QTest::addColumn<bool>("written");
        QTest::newRow("TEMP first") << QStringList{"ok", "bad", "bad"} << true;
        QTest::newRow("TMP without TEMP") << QStringList{"", "ok", "bad"} << true;
        QTest::newRow("TMPDIR without both") << QStringList{"", "", "ok"} << true;
        QTest::newRow("system folder without any") << QStringList{"", "", ""} << true;
        QTest::newRow("TEMP set but unusable") << QStringList{"bad", "ok", "ok"} << false;
    }

    void temporaryFolderChoice()
    {
        QFETCH(QStringList, variables);
        QFETCH(bool, written);
        QTemporaryDir usable;
        const QString missing = usable.filePath("missing");
        for (QString &value : variables)
            value = value == "ok" ? usable.path() : value == "bad" ? missing : QString();
        NameRig rig;
        QVERIFY2(rig.start({{3, "KRN3", 0}, {5, "LPS3", 0}}), qPrintable(rig.sim.errorString()));
        QProcessEnvironment environment;
        const char *names[] = {"TEMP", "TMP", "TMPDIR"};
        for (int i = 0; i < 3; ++i) {
            if (!variables[i].isEmpty())
                environment.insert(names[i], variables[i]);
        }
        rig.run().TemporaryFolder = UpgradeRun::TemporaryFolderFor(environment);
        if (variables.join("").isEmpty())
            QCOMPARE(rig.run().TemporaryFolder, QDir::tempPath());
        QVERIFY(rig.run().MakeNameFiles());

        if (written) {
            QCOMPARE(rig.sim.files(), (QStringList{"SYSTEM/MID3/NAME", "SYSTEM/MID5/NAME"}));
            QVERIFY(rig.memo().isEmpty());
        } else {
            QVERIFY(rig.sim.files().isEmpty());
            QCOMPARE(rig.memo(),
                     (QStringList{"*** ERROR ***", "Can't open temporary NAME file", "*** ERROR ***",
                                  "Can't open temporary NAME file"}));
        }
        QCOMPARE(QDir(usable.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{});
    }

    // A link planted where a fixed temporary name would be is not followed,
    // and the file is removed also when the upload raises.
    void temporaryFileIsPrivateAndRemovedOnError()
    {
        QTemporaryDir temporary;
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath("victim");
        {
            QFile file(victim);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep me");
        }
        QVERIFY(QFile::link(victim, temporary.filePath("NAME")));
        NameRig rig({"--stor-refuse", "553@2"});
        QVERIFY2(rig.start({{3, "KRN3", 0}, {5, "LPS3", 0}}), qPrintable(rig.sim.errorString()));
        rig.run().TemporaryFolder = temporary.path();
        bool raised = false;
        try {
            static_cast<void>(rig.run().MakeNameFiles());
        } catch (const Exception &) {
            raised = true;
        }
        QVERIFY(raised);
        QCOMPARE(rig.rig->observer.boxes.texts(), (QStringList{"Upload failed", "Upload failed"}));
        QCOMPARE(rig.sim.files(), QStringList{"SYSTEM/MID3/NAME"});
        QCOMPARE(QDir(temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 QStringList{"NAME"});
        QFile file(victim);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }
};

QTEST_GUILESS_MAIN(TestNameFiles)
#include "tst_namefiles.moc"
