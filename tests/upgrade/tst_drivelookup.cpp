// The drive lookup against the simulator's FTP servers and catalogues: what
// it answers for each kind of path, that it lists each folder once and never
// one it knows is absent, and the low-space case on an empty drive.
#include "support/RunRig.h"

#include "upgrade/run/RunTexts.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/DriveSource.h"
#include "upgrade/drive/SendCheck.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace upgrade;
using State = DriveAnswer::State;

namespace {

void writeDriveFile(const QTemporaryDir &drive, const QString &path, qsizetype size)
{
    const QString full = drive.filePath(path);
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'x')) == size);
}

// The folders a transcript lists: "MLSD F" on the FTP connection and
// "MMEM:CAT? "F"" on the command channel, each as often as it was listed.
QStringList listedFolders(const SimInstrument &sim)
{
    QStringList folders;
    for (const QString &line : sim.sent("ftp"))
        if (line.startsWith("MLSD "))
            folders.append(line.mid(5));
    static const QRegularExpression catalogue(R"re(^MMEM:CAT\? "(.*)"$)re");
    for (const QString &line : sim.sent("cmd"))
        if (const QRegularExpressionMatch m = catalogue.match(line); m.hasMatch())
            folders.append(m.captured(1));
    return folders;
}

// A server whose MLSD lists the given sizes of one folder (-1: no size
// fact) and which declines SIZE.
class ListingOnly final : public DriveSource
{
public:
    explicit ListingOnly(QList<FtpListing::Entry> entries)
        : entries(std::move(entries))
    {
    }
    bool offersSizedListing() override { return true; }
    FolderListing list(const QString &) override
    {
        ++listings;
        return {FolderListing::Status::Listed, FolderListing::Source::FtpListing, entries, QString()};
    }
    TSizeReply size(const QString &) override { return {TSizeReply::Kind::NotImplemented, -1, "502 No.\r\n", FtpResult::Ok()}; }
    std::optional<THashReply> sha256(const QString &) override { return std::nullopt; }

    QList<FtpListing::Entry> entries;
    int listings = 0;
};

} // namespace

class TestDriveLookup : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<int>("aState"); // of /F0:/KRN3/a.bin (10 bytes, then 20 once written)
        QTest::addColumn<qint64>("aSize");
        QTest::addColumn<qint64>("aSizeAfterWrite");
        QTest::addColumn<int>("sizeCommands");
        QTest::newRow("MLSD") << QStringList() << int(State::Present) << qint64(10) << qint64(20) << 0;
        QTest::newRow("catalogue") << QStringList{"--no-mlsd"} << int(State::Present) << qint64(10) << qint64(20) << 0;
        QTest::newRow("names-only catalogue, SIZE")
            << QStringList{"--no-mlsd", "--catalogue-form", "names"} << int(State::Present) << qint64(10)
            << qint64(20) << 4;
        // Declined once, never asked again.
        QTest::newRow("names-only catalogue, no SIZE")
            << QStringList{"--no-mlsd", "--no-size", "--catalogue-form", "names"} << int(State::SizeUnknown)
            << qint64(-1) << qint64(-1) << 1;
    }

    void answers()
    {
        QFETCH(QStringList, simOptions);
        QTemporaryDir drive;
        writeDriveFile(drive, "F0:/KRN3/a.bin", 10);
        writeDriveFile(drive, "F0:/KRN3/b.bin", 5);
        QVERIFY(QDir(drive.path()).mkpath("F0:/KRN3/sub"));
        SimInstrument sim(simOptions + QStringList{"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        TfrmVX900 link(nullptr, sim.ports());
        QVERIFY(link.Connect("127.0.0.1"));
        LinkDriveSource source(link);
        DriveLookup lookup(source);

        const DriveAnswer a = lookup.file("/F0:/KRN3/a.bin");
        QTEST(int(a.state), "aState");
        QTEST(a.size, "aSize");
        QVERIFY(lookup.file("/F0:/KRN3/b.bin").present());
        QCOMPARE(lookup.file("/F0:/KRN3/none.bin").state, State::Absent);
        // A folder asked as a file: a names-only catalogue can't tell it from one.
        const bool blind = a.state == State::SizeUnknown;
        QCOMPARE(lookup.file("/F0:/KRN3/sub").state, blind ? State::SizeUnknown : State::Absent);
        QCOMPARE(lookup.folder("/F0:/KRN3/sub").state, State::Present);
        QCOMPARE(lookup.file("/F0:/NEW/x.bin").state, State::Absent);
        QCOMPARE(lookup.folder("/F0:/NEW/deeper").state, State::Absent);
        QCOMPARE(lookup.file("/F0:/KRN3/sub/c.bin").state, State::Absent);
        // Asked again: answered from what was listed.
        QTEST(lookup.file("/F0:/KRN3/a.bin").size, "aSize");

        // A file the run wrote is looked at afresh.
        writeDriveFile(drive, "F0:/KRN3/a.bin", 20);
        lookup.wrote("/F0:/KRN3/a.bin");
        QTEST(lookup.file("/F0:/KRN3/a.bin").size, "aSizeAfterWrite");
        link.Disconnect();
        sim.stop();

        // The root, KRN3 twice (written into between), its sub-folder once;
        // never the folder that is not there.
        QStringList listed = listedFolders(sim);
        listed.sort();
        QCOMPARE(listed, (QStringList{"/F0:/", "/F0:/KRN3", "/F0:/KRN3", "/F0:/KRN3/sub"}));
        QTEST(int(sim.sent("ftp").filter(QRegularExpression("^SIZE ")).size()), "sizeCommands");
    }

    // The memo line after the sends says how many files could be verified.
    void sendCheckSummary_data()
    {
        QTest::addColumn<QList<qint64>>("listedSizes"); // of a.bin and b.bin, both sent with 10 bytes
        QTest::addColumn<QString>("summary");
        QTest::newRow("all") << QList<qint64>{10, 10} << SendCheck::methodText(SendCheck::Method::FtpListing);
        QTest::newRow("one") << QList<qint64>{10, -1}
                             << "Verified 1 of the 2 file(s) sent (1 by the FTP server's listing (MLSD)); for the "
                                "other 1 nothing on the instrument told their size: sent, not verifiable.";
        QTest::newRow("none") << QList<qint64>{-1, -1}
                              << "None of the 2 file(s) sent could be verified: neither the FTP server nor the "
                                 "instrument's catalogue could tell their sizes, so they were sent, not verifiable.";
    }

    void sendCheckSummary()
    {
        QFETCH(QList<qint64>, listedSizes);
        ListingOnly server({{"a.bin", false, listedSizes[0]}, {"b.bin", false, listedSizes[1]}});
        DriveLookup lookup(server);
        SendCheck check(lookup);
        check.begin({"/F0:/KRN3/a.bin", "/F0:/KRN3/b.bin"});
        QVERIFY(check.sent("/F0:/KRN3/a.bin", 10, false).isEmpty()); // the folder waits for its last file
        const QList<UploadCheck> checks = check.sent("/F0:/KRN3/b.bin", 10, false);
        QCOMPARE(checks.size(), 2);
        QVERIFY(std::none_of(checks.cbegin(), checks.cend(), [](const UploadCheck &c) { return c.failed(); }));
        QTEST(check.summary(), "summary");
        QCOMPARE(server.listings, 1);
    }

    // A folder made where its parent's listing showed none is empty: nothing
    // in it is listed until the run writes there.
    void madeFolderIsNotListedUntilWritten()
    {
        ListingOnly server({{"KRN3", true, -1}});
        DriveLookup lookup(server);
        QCOMPARE(lookup.folder("/F0:/KRN3/sub").state, State::Absent);
        const int listed = server.listings;
        lookup.madeEmpty("/F0:/KRN3/sub");
        QCOMPARE(lookup.folder("/F0:/KRN3/sub").state, State::Present);
        QCOMPARE(lookup.file("/F0:/KRN3/sub/a.bin").state, State::Absent);
        QCOMPARE(lookup.folder("/F0:/KRN3/sub/deeper").state, State::Absent);
        QCOMPARE(server.listings, listed);
        lookup.wrote("/F0:/KRN3/sub/a.bin");
        static_cast<void>(lookup.file("/F0:/KRN3/sub/a.bin"));
        QCOMPARE(server.listings, listed + 1);
    }

    // The space check of the low-space case on an empty drive: the kit
    // exceeds the free space, so the sizes of the files it would replace
    // are looked for, and none of its folders is there to be listed.
    void lowSpaceOnEmptyDriveListsNoAbsentFolder_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::newRow("MLSD") << QStringList();
        QTest::newRow("catalogue") << QStringList{"--no-mlsd"};
    }

    void lowSpaceOnEmptyDriveListsNoAbsentFolder()
    {
        QFETCH(QStringList, simOptions);
        SimInstrument sim(simOptions + QStringList{"--free", "4718591"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {6, "QMX53", 0}});
        folder.write("target/KRN3/sub/k.bin", sampleBytes(4800000, 1));
        folder.write("target/QMX53/SIGNAL/q.bin", sampleBytes(1000, 2));
        folder.write("MainFrame/m.exe", sampleBytes(3000, 3));
        RunRig rig(folder.path(), sim.ports());
        rig.catalogue.TickBox(ModuleName::QMX53, true);
        rig.observer.boxes.answer = [](const RecordedBox &box) {
            return (box.flags & platform::MB_YESNO) ? int(platform::IDYES) : int(platform::IDOK);
        };
        const RunResult result = rig.run.Run("127.0.0.1", RunMode::DryRun);
        sim.stop();

        QCOMPARE(result.outcome, RunOutcome::Succeeded);
        QCOMPARE(rig.observer.boxes.texts().first(), LowSpaceQuestionText);
        QVERIFY2(rig.observer.memo.filter("going on, as answered").size() == 1, qPrintable(rig.observer.memo.join('\n')));
        // Only what is there: the root (the free space's catalogue too) and
        // the system folder.
        const QStringList listed = listedFolders(sim);
        QVERIFY2(!listed.isEmpty() && std::all_of(listed.cbegin(), listed.cend(),
                                                  [](const QString &f) { return f == "/F0:/" || f == "/F0:/SYSTEM"; }),
                 qPrintable(listed.join('|')));
    }
};

QTEST_GUILESS_MAIN(TestDriveLookup)
#include "tst_drivelookup.moc"
