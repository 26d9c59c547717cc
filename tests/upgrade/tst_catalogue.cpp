// The module catalogue: read from vxUpgrade.ini or made from the folders
// below target, and the module boxes it enables.
#include "upgrade/common/ModuleCatalogue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace upgrade;

namespace {

// A program folder laid out for one case: "dir/" makes a folder, "file"
// makes an empty file, "file=text" a file holding text.
void makeTree(const QString &root, const QStringList &items)
{
    for (const QString &item : items) {
        if (item.endsWith(u'/')) {
            QVERIFY2(QDir(root).mkpath(item), qPrintable(item));
            continue;
        }
        const qsizetype eq = item.indexOf(u'=');
        const QString path = root + u'/' + (eq < 0 ? item : item.left(eq));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
        if (eq >= 0)
            file.write(item.mid(eq + 1).toUtf8());
    }
}

// "id:name:signal" for each entry, in catalogue order.
QStringList describe(const ModuleCatalogue &list)
{
    QStringList out;
    for (const auto &entry : list)
        out << QStringLiteral("%1:%2:%3").arg(entry->id).arg(entry->name).arg(entry->hasSignal ? 1 : 0);
    return out;
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void buildsTheCatalogue_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<bool>("ordered"); // false: the file system's order, compared sorted
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("enabledBoxes");

        const QStringList modules = {"target/KRN3/SIGNAL/", "target/LPS3/", "target/QMX53/SIGNAL/"};

        // --- from vxUpgrade.ini
        QTest::newRow("ini: sections 1, 2 and 4 read 1 and 2")
            << QStringList{"vxUpgrade.ini=[ENTRY 1]\nid=3\nname=KRN3\n[ENTRY 2]\nid=4\nname=LPS3\nhasSignal=1\n[ENTRY 4]\nid=6\nname=SBX3\n"}
            << true << QStringList{"3:KRN3:0", "4:LPS3:1"} << QStringList{};
        QTest::newRow("ini: id -1 ends the catalogue")
            << QStringList{"vxUpgrade.ini=[ENTRY 1]\nid=1\nname=A\n[ENTRY 2]\nid=-1\nname=B\n[ENTRY 3]\nid=3\nname=C\n"}
            << true << QStringList{"1:A:0"} << QStringList{};
        QTest::newRow("ini: no name gives an empty name and no box")
            << (modules + QStringList{"vxUpgrade.ini=[ENTRY 1]\nid=2\n"})
            << true << QStringList{"2::0"} << QStringList{};
        QTest::newRow("ini: hexadecimal ids")
            << QStringList{"vxUpgrade.ini=[ENTRY 1]\nid=0x10\nname=A\n[ENTRY 2]\nid=$1f\nname=B\n"}
            << true << QStringList{"16:A:0", "31:B:0"} << QStringList{};
        QTest::newRow("ini: hasSignal words, zero and non-zero integers")
            << QStringList{"vxUpgrade.ini=[ENTRY 1]\nid=1\nname=A\nhasSignal=true\n[ENTRY 2]\nid=2\nname=B\nhasSignal=5\n"
                           "[ENTRY 3]\nid=3\nname=C\nhasSignal=0\n[ENTRY 4]\nid=4\nname=D\nhasSignal=-1\n"}
            << true << QStringList{"1:A:0", "2:B:1", "3:C:0", "4:D:1"} << QStringList{};
        QTest::newRow("ini: folders it does not list stay out; boxes of listed modules follow SIGNAL")
            << (modules + QStringList{"vxUpgrade.ini=[ENTRY 1]\nid=7\nname=QMX53\nhasSignal=1\n[ENTRY 2]\nid=8\nname=LPS3\n"})
            << true << QStringList{"7:QMX53:1", "8:LPS3:0"} << QStringList{"cbQMX53"};
        QTest::newRow("ini: no ENTRY 1 means an empty catalogue and no scan")
            << (modules + QStringList{"vxUpgrade.ini=[ENTRY 2]\nid=2\nname=KRN3\n"})
            << true << QStringList{} << QStringList{};
        QTest::newRow("ini: unreadable first id")
            << (modules + QStringList{"vxUpgrade.ini=[ENTRY 1]\nid=one\nname=KRN3\n"})
            << true << QStringList{} << QStringList{};
        QTest::newRow("ini: an empty file still decides")
            << (modules + QStringList{"vxUpgrade.ini"}) << true << QStringList{} << QStringList{};
        QTest::newRow("ini: module names compare case-sensitively")
            << QStringList{"target/krn3/SIGNAL/", "vxUpgrade.ini=[ENTRY 1]\nid=1\nname=krn3\n"}
            << true << QStringList{"1:krn3:0"} << QStringList{};
        QTest::newRow("ini: local names do not: Target, signal, file name")
            << QStringList{"Target/KRN3/signal/", "Target/PRZ53/Signal/", "VXUPGRADE.INI=[entry 1]\nID=1\nNAME=KRN3\n[Entry 2]\nid=2\nname=PRZ53\n"}
            << true << QStringList{"1:KRN3:0", "2:PRZ53:0"} << QStringList{"cbKRN3", "cbPRZ53"};
        QTest::newRow("ini: same name twice, both entries kept")
            << QStringList{"target/SBX3/SIGNAL/", "vxUpgrade.ini=[ENTRY 1]\nid=1\nname=SBX3\n[ENTRY 2]\nid=1\nname=SBX3\nhasSignal=1\n"}
            << true << QStringList{"1:SBX3:0", "1:SBX3:1"} << QStringList{"cbSBX3"};
        QTest::newRow("ini: a folder named vxUpgrade.ini is no file: scan")
            << QStringList{"vxUpgrade.ini/", "target/LPS3/SIGNAL/"}
            << true << QStringList{"1:LPS3:0"} << QStringList{"cbLPS3"};

        // --- from the folders below target; ids by sorted name
        QTest::newRow("scan: folders only, dot names and files skipped, case-sensitive boxes")
            << QStringList{"target/KRN3/SIGNAL/", "target/LPS3/", "target/krn3/SIGNAL/", "target/.svn/",
                           "target/readme.txt", "target/.profile", "target/QMX53/SIGNAL=not a folder",
                           "target/PRZ53/SIGNAL/", "target/FOO/SIGNAL/"}
            << false << QStringList{"1:FOO:0", "2:KRN3:0", "3:LPS3:0", "4:PRZ53:0", "5:QMX53:0", "6:krn3:0"}
            << QStringList{"cbKRN3", "cbPRZ53"};
        QTest::newRow("scan: no target folder") << QStringList{"MainFrame/"} << false << QStringList{} << QStringList{};
        QTest::newRow("scan: empty target folder") << QStringList{"target/"} << false << QStringList{} << QStringList{};
        QTest::newRow("scan: Target spelt otherwise")
            << QStringList{"TARGET/SBX3/SIGNAL/"} << false << QStringList{"1:SBX3:0"} << QStringList{"cbSBX3"};
    }

    void buildsTheCatalogue()
    {
        QFETCH(QStringList, tree);
        QFETCH(bool, ordered);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, enabledBoxes);

        QTemporaryDir program;
        QVERIFY(program.isValid());
        makeTree(program.path(), tree);
        if (QTest::currentTestFailed())
            return;

        ModuleCatalogue catalogue(program.path() + u'/');
        catalogue.Build();
        QStringList actual = describe(catalogue);
        if (!ordered)
            actual.sort();
        QCOMPARE(actual, entries);

        for (const QString &name : ModuleCatalogue::BoxNames()) {
            QCOMPARE(catalogue.box(name).enabled, enabledBoxes.contains("cb" + name));
            QVERIFY(!catalogue.box(name).ticked);
        }
    }

    void scannedIdsDoNotDependOnListingOrder()
    {
        // Two program folders holding the same modules, made in opposite
        // orders (so listed differently by many file systems), must number
        // each module alike, and never twice.
        const QStringList names = {"ZED", "KRN3", "alpha", "Beta", "LPS3", "b", "MID"};
        QMap<QString, qint32> first;
        for (int pass = 0; pass < 2; ++pass) {
            QTemporaryDir program;
            QStringList tree;
            for (const QString &name : names)
                tree << QStringLiteral("target/%1/").arg(name);
            if (pass == 1)
                std::reverse(tree.begin(), tree.end());
            makeTree(program.path(), tree);
            ModuleCatalogue catalogue(program.path() + u'/');
            catalogue.Build();
            QSet<qint32> ids;
            for (const auto &entry : catalogue) {
                QVERIFY2(!ids.contains(entry->id), "two scanned modules share a MID folder");
                ids.insert(entry->id);
                if (pass == 0)
                    first.insert(entry->name, entry->id);
                else
                    QCOMPARE(entry->id, first.value(entry->name));
            }
            QCOMPARE(ids.size(), names.size());
        }
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
