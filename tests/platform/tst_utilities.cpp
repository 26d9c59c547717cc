#include "platform/Utilities.h"

#include <QtTest>

class TestUtilities : public QObject
{
    Q_OBJECT

private slots:
    void splitsAtTheLastSeparator_data()
    {
        const QString deep = QStringLiteral("/") + QString(300, u'd') + QStringLiteral("/") + QString(100, u'e');
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("executable") << "/opt/vx/vxupgrade" << "/opt/vx/" << "vxupgrade";
        QTest::newRow("in the root") << "/vxupgrade" << "/" << "vxupgrade";
        QTest::newRow("no separator") << "vxupgrade" << "" << "vxupgrade";
        QTest::newRow("trailing separator") << "/opt/vx/" << "/opt/vx/" << "";
        QTest::newRow("backslash is part of a name here") << "/opt/a\\b" << "/opt/" << "a\\b";
        QTest::newRow("longer than 127 characters") << deep + "/vxupgrade" << deep + "/" << "vxupgrade";
        QTest::newRow("blanks and dots kept") << "/my dir/v.x/up grade" << "/my dir/v.x/" << "up grade";
    }

    void splitsAtTheLastSeparator()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, fileName);
        const PathParts parts = SplitPath(path);
        QCOMPARE(parts.folder, folder);
        QCOMPARE(parts.fileName, fileName);
    }
};

QTEST_GUILESS_MAIN(TestUtilities)
#include "tst_utilities.moc"
