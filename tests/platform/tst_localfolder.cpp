#include "platform/LocalFolder.h"
#include "platform/UnreadableEntry.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace platform;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

int openDescriptorCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

QMap<QString, FolderEntry> listAll(const QString &folder)
{
    QMap<QString, FolderEntry> entries;
    FolderListing listing(folder);
    FolderEntry entry;
    for (int guard = 0; guard < 1000 && listing.next(entry); ++guard)
        entries.insert(entry.name, entry);
    return entries;
}

} // namespace

class TestLocalFolder : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString root;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        root = tmp.path();
        QVERIFY(QDir(root).mkpath(QStringLiteral("Target/KRN3/SIGNAL")));
        QVERIFY(QDir(root).mkpath(QStringLiteral("Target/.git")));
        writeFile(root + "/Target/plain.bin", QByteArray(1000, 'x'));
        writeFile(root + "/Target/empty", {});
        writeFile(root + "/Target/.hidden", "h");
        writeFile(root + "/Target/readonly.txt", "ro");
        QVERIFY(QFile::setPermissions(root + "/Target/readonly.txt", QFile::ReadOwner));
        QVERIFY(QFile::link(root + "/Target/KRN3", root + "/Target/linkdir"));
        QVERIFY(QFile::link(root + "/Target/nowhere", root + "/Target/dangling"));
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/Target/pipe").constData(), 0600), 0);
        // Sparse, so it costs no disk: a size past 32 bits must come back whole.
        QFile big(root + "/Target/big.img");
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(5LL * 1024 * 1024 * 1024 + 7));
    }

    void listsEveryEntryWithItsAttributesAndSize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("attributes");
        QTest::addColumn<qint64>("size");
        QTest::newRow("dot") << "." << uint(FA_DIRECTORY) << qint64(0);
        QTest::newRow("dotdot") << ".." << uint(FA_DIRECTORY) << qint64(0);
        QTest::newRow("folder") << "KRN3" << uint(FA_DIRECTORY) << qint64(0);
        QTest::newRow("dot folder") << ".git" << uint(FA_DIRECTORY | FA_HIDDEN) << qint64(0);
        QTest::newRow("file") << "plain.bin" << uint(FA_ARCHIVE) << qint64(1000);
        QTest::newRow("empty file") << "empty" << uint(FA_ARCHIVE) << qint64(0);
        QTest::newRow("hidden file") << ".hidden" << uint(FA_ARCHIVE | FA_HIDDEN) << qint64(1);
        QTest::newRow("read-only file") << "readonly.txt" << uint(FA_ARCHIVE | FA_READONLY) << qint64(2);
        QTest::newRow("link to folder") << "linkdir" << uint(FA_DIRECTORY) << qint64(0);
        QTest::newRow("dangling link") << "dangling" << uint(FA_SYSTEM | FA_READONLY) << qint64(0);
        QTest::newRow("pipe") << "pipe" << uint(FA_SYSTEM) << qint64(0);
        QTest::newRow("over 4 GiB") << "big.img" << uint(FA_ARCHIVE) << qint64(5LL * 1024 * 1024 * 1024 + 7);
    }

    void listsEveryEntryWithItsAttributesAndSize()
    {
        QFETCH(QString, name);
        QFETCH(uint, attributes);
        QFETCH(qint64, size);
        const auto entries = listAll(root + "/Target");
        QCOMPARE(entries.size(), 12);
        QVERIFY2(entries.contains(name), qPrintable(name));
        const FolderEntry entry = entries.value(name);
        // The dangling link's own permission bits are the link's (always
        // writable on Linux), so only the kind bits are compared for it.
        if (name == QLatin1String("dangling"))
            QCOMPARE(entry.attributes & ~uint(FA_READONLY), attributes & ~uint(FA_READONLY));
        else
            QCOMPARE(entry.attributes, attributes);
        QCOMPARE(entry.size, size);
        QCOMPARE(entry.isFolder(), bool(attributes & FA_DIRECTORY));
        QCOMPARE(entry.isRegularFile(), bool(attributes & FA_ARCHIVE));
    }

    void resolvesNamesWithoutRegardToCase_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("file");
        QTest::newRow("exact folder") << "Target/KRN3/SIGNAL" << true << false;
        QTest::newRow("lower-case root") << "target/KRN3/SIGNAL" << true << false;
        QTest::newRow("every component in other case") << "TARGET/krn3/Signal" << true << false;
        QTest::newRow("trailing separator") << "target/krn3/" << true << false;
        QTest::newRow("file in other case") << "TARGET/PLAIN.BIN" << false << true;
        QTest::newRow("missing") << "target/KRN4" << false << false;
        QTest::newRow("below a file") << "target/plain.bin/x" << false << false;
        QTest::newRow("pipe is no file") << "target/pipe" << false << false;
        QTest::newRow("link to folder") << "target/LINKDIR/signal" << true << false;
    }

    void resolvesNamesWithoutRegardToCase()
    {
        QFETCH(QString, asked);
        QFETCH(bool, folder);
        QFETCH(bool, file);
        QCOMPARE(FolderExists(root + "/" + asked), folder);
        QCOMPARE(FileExists(root + "/" + asked), file);
    }

    void listingTakesAFolderNamedInAnyCase()
    {
        const auto entries = listAll(root + "/tArGeT/krn3");
        QVERIFY(entries.contains(QStringLiteral("SIGNAL")));
    }

    void exactNameWinsThenTheFirstInSortedOrder()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("aB/data")));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Ab/DATA")));
        QCOMPARE(*ResolveLocalPath(dir.path() + "/aB/data"), dir.path() + "/aB/data");
        QCOMPARE(*ResolveLocalPath(dir.path() + "/Ab/DATA"), dir.path() + "/Ab/DATA");
        // Neither "ab" nor "AB" exists as written: both folders match, the
        // sorted first ("Ab") is taken and the rest is looked for inside it.
        QCOMPARE(*ResolveLocalPath(dir.path() + "/ab/Data"), dir.path() + "/Ab/DATA");
        QCOMPARE(*ResolveLocalPath(dir.path() + "/AB"), dir.path() + "/Ab");
        QCOMPARE(*ResolveLocalPath(dir.path() + "/AB/../ab/data"), dir.path() + "/Ab/../Ab/DATA");
        QVERIFY(!ResolveLocalPath(dir.path() + "/x/../aB/data"));
        QVERIFY(!ResolveLocalPath(dir.path() + "/c"));
        QVERIFY(!ResolveLocalPath(QString()));
    }

    void missingFolderGivesAClosedListing()
    {
        FolderListing listing(root + "/nothing-here");
        QVERIFY(!listing.isOpen());
        FolderEntry entry;
        QVERIFY(!listing.next(entry));
        QVERIFY(listing.missing() && !listing.failed());
        FolderListing onFile(root + "/Target/plain.bin");
        QVERIFY(!onFile.isOpen());
        QVERIFY(onFile.missing() && !onFile.failed());
    }

    // A folder that exists but can't be read is no missing folder, and a
    // listing whose reading fails is no finished one.
    void listingFailuresAreNotEmptyFolders()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("locked/inside"));
        {
            UnreadableEntry locked(dir.path() + "/locked");
            if (!locked.usable())
                QSKIP(locked.whyNot());
            FolderListing listing(dir.path() + "/locked");
            QVERIFY(!listing.isOpen() && !listing.missing());
            QCOMPARE(listing.errorString(), QStringLiteral("Permission denied"));
        }

        // The file-descriptor folder of a process that has ended opens, but
        // reading it fails: the kernel no longer has the process.
        QProcess child;
        child.start("sleep", {"60"});
        QVERIFY(child.waitForStarted());
        FolderListing listing(QStringLiteral("/proc/%1/fd").arg(child.processId()));
        QVERIFY(listing.isOpen());
        child.kill();
        QVERIFY(child.waitForFinished());
        FolderEntry entry;
        QVERIFY(!listing.next(entry));
        QVERIFY(listing.failed());
        QVERIFY(!listing.isOpen());
        QCOMPARE(listing.errorString(), QStringLiteral("No such file or directory"));
    }

    void listingIsClosedOnEveryWayOut()
    {
        const int before = openDescriptorCount();
        {
            FolderListing listing(root + "/Target");
            QVERIFY(listing.isOpen());
            QCOMPARE(openDescriptorCount(), before + 1);
        }
        QCOMPARE(openDescriptorCount(), before);

        try {
            FolderListing listing(root + "/Target");
            FolderEntry entry;
            QVERIFY(listing.next(entry));
            throw std::runtime_error("leaves the level");
        } catch (const std::runtime_error &) {
        }
        QCOMPARE(openDescriptorCount(), before);

        FolderListing listing(root + "/Target");
        listing.close();
        QVERIFY(!listing.isOpen());
        FolderEntry entry;
        QVERIFY(!listing.next(entry));
        QCOMPARE(openDescriptorCount(), before);
    }

    void joinsWithThisPlatformsSeparator_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("joined");
        QTest::newRow("plain") << "/a/b" << "c" << "/a/b/c";
        QTest::newRow("folder with separator") << "/a/b/" << "c" << "/a/b/c";
        QTest::newRow("empty name") << "/a/Target" << "" << "/a/Target/";
        QTest::newRow("empty folder") << "" << "c" << "c";
    }

    void joinsWithThisPlatformsSeparator()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, joined);
        QCOMPARE(JoinLocalPath(folder, name), joined);
    }
};

QTEST_GUILESS_MAIN(TestLocalFolder)
#include "tst_localfolder.moc"
