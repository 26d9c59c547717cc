#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using platform::IniFile;

class TestIniFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;

    QString writeIni(const QString &name, const QByteArray &bytes)
    {
        const QString path = tmp.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void parsesIntegersAsTheProfileReaderDid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "12" << true << 12;
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("plus sign") << "+7" << true << 7;
        QTest::newRow("minus one") << "-1" << true << -1;
        QTest::newRow("leading blanks") << "   42" << true << 42;
        QTest::newRow("leading zeros") << "007" << true << 7;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("past the largest") << "2147483648" << false << 0;
        QTest::newRow("past the smallest") << "-2147483649" << false << 0;
        QTest::newRow("huge") << "99999999999999999999999" << false << 0;
        QTest::newRow("0x hex") << "0x1F" << true << 31;
        QTest::newRow("0X hex") << "0X10" << true << 16;
        QTest::newRow("dollar hex") << "$ff" << true << 255;
        QTest::newRow("hex wraps into the signed range") << "$FFFFFFFF" << true << -1;
        QTest::newRow("hex past 32 bits") << "0x100000000" << false << 0;
        QTest::newRow("bare 0x is two characters: decimal, unreadable") << "0x" << false << 0;
        QTest::newRow("bare dollar") << "$" << false << 0;
        QTest::newRow("bad hex digit") << "0x1G" << false << 0;
        QTest::newRow("word") << "true" << false << 0;
        QTest::newRow("trailing letters") << "12abc" << false << 0;
        QTest::newRow("trailing blank") << "12 " << false << 0;
        QTest::newRow("inner blank") << "1 2" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("double sign") << "--1" << false << 0;
        QTest::newRow("decimal point") << "1.0" << false << 0;
        QTest::newRow("non-ASCII digit") << QString::fromUtf8("\xd9\xa3") << false << 0;
    }

    void parsesIntegersAsTheProfileReaderDid()
    {
        QFETCH(QString, text);
        QFETCH(bool, readable);
        QFETCH(int, value);
        const std::optional<qint32> parsed = IniFile::ParseProfileInteger(text);
        QCOMPARE(parsed.has_value(), readable);
        if (readable)
            QCOMPARE(*parsed, value);
    }

    void readsValuesWithPrivateProfileSemantics_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("exact") << "ENTRY 1" << "name" << "KRN3";
        QTest::newRow("section in other case") << "entry 1" << "name" << "KRN3";
        QTest::newRow("key in other case") << "ENTRY 1" << "NAME" << "KRN3";
        QTest::newRow("blanks around key and value") << "ENTRY 2" << "name" << "LPS3";
        QTest::newRow("double quotes stripped once") << "ENTRY 3" << "name" << "\"QMX53\"";
        QTest::newRow("single quotes stripped") << "ENTRY 3" << "single" << " a b ";
        QTest::newRow("unmatched quote kept") << "ENTRY 3" << "half" << "\"abc";
        QTest::newRow("first key of a name wins") << "ENTRY 4" << "name" << "first";
        QTest::newRow("repeated section keeps its first keys") << "ENTRY 4" << "id" << "4";
        QTest::newRow("key only in repeated section") << "ENTRY 4" << "extra" << "added";
        QTest::newRow("semicolon inside a value kept") << "ENTRY 4" << "note" << "a;b";
        QTest::newRow("empty value") << "ENTRY 4" << "blank" << "";
        QTest::newRow("blanks inside brackets") << "ENTRY 5" << "name" << "SBX3";
        QTest::newRow("equals inside value") << "ENTRY 5" << "expr" << "a=b";
        QTest::newRow("missing key") << "ENTRY 1" << "nothing" << "<default>";
        QTest::newRow("missing section") << "ENTRY 9" << "name" << "<default>";
        QTest::newRow("commented key") << "ENTRY 1" << ";gone" << "<default>";
        QTest::newRow("key before any section") << "" << "orphan" << "<default>";
    }

    void readsValuesWithPrivateProfileSemantics()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const QString path = writeIni(QStringLiteral("semantics.ini"),
            "\xEF\xBB\xBF"
            "orphan=1\r\n"
            "[ENTRY 1]\r\n"
            "name=KRN3\r\n"
            ";gone=1\r\n"
            "[Entry 2]\n"
            "   name   =   LPS3   \n"
            "[ENTRY 3]\n"
            "name=\"\"QMX53\"\"\n"
            "single=' a b '\n"
            "half=\"abc\n"
            "[ENTRY 4]\n"
            "id=4\n"
            "name=first\n"
            "NAME=second\n"
            "note=a;b\n"
            "blank=\n"
            "[entry 4]\n"
            "id=5\n"
            "extra=added\n"
            "[  ENTRY 5  ]\n"
            "name=SBX3\n"
            "expr=a=b\n");
        const IniFile ini(path);
        QVERIFY(ini.isOpen());
        QCOMPARE(ini.ReadString(section, key, QStringLiteral("<default>")), expected);
    }

    void longValueCountsUpTo2047Characters()
    {
        const QByteArray longName(3000, 'N');
        const QString path = writeIni(QStringLiteral("long.ini"),
            "[ENTRY 1]\nname=" + longName + "\nquoted=\"" + QByteArray(2047, 'q') + "\"\nid=" + QByteArray(2046, ' ') + "12\n");
        const IniFile ini(path);
        QCOMPARE(ini.ReadString("ENTRY 1", "name", {}), QString(2047, u'N'));
        // Quotes go first, so all 2047 characters inside them count.
        QCOMPARE(ini.ReadString("ENTRY 1", "quoted", {}), QString(2047, u'q'));
        // Blanks around a value do not count against the limit.
        QCOMPARE(ini.ReadInteger("ENTRY 1", "id", -1), 12);
    }

    void integersAndBooleansTakeTheirDefaultsWhenUnreadable_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("integer");
        QTest::addColumn<bool>("boolean");
        QTest::newRow("one") << "one" << 1 << true;
        QTest::newRow("any non-zero") << "seven" << 7 << true;
        QTest::newRow("negative") << "negative" << -3 << true;
        QTest::newRow("zero") << "zero" << 0 << false;
        QTest::newRow("word true") << "word" << -1 << false;
        QTest::newRow("quoted number") << "quoted" << 5 << true;
        QTest::newRow("missing") << "missing" << -1 << false;
        QTest::newRow("hex") << "hex" << 255 << true;
    }

    void integersAndBooleansTakeTheirDefaultsWhenUnreadable()
    {
        QFETCH(QString, key);
        QFETCH(int, integer);
        QFETCH(bool, boolean);
        const QString path = writeIni(QStringLiteral("numbers.ini"),
            "[S]\none=1\nseven=7\nnegative=-3\nzero=0\nword=true\nquoted=\"5\"\nhex=0xff\n");
        const IniFile ini(path);
        QCOMPARE(ini.ReadInteger("S", key, -1), integer);
        QCOMPARE(ini.ReadBool("S", key, false), boolean);
    }

    void unreadableFilesGiveAnEmptyProfile()
    {
        const IniFile missing(tmp.filePath(QStringLiteral("absent.ini")));
        QVERIFY(!missing.isOpen());
        QCOMPARE(missing.ReadInteger("ENTRY 1", "id", -1), -1);

        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("folder.ini")));
        const IniFile folder(tmp.filePath(QStringLiteral("folder.ini")));
        QVERIFY(!folder.isOpen());

        const QString binary = writeIni(QStringLiteral("binary.ini"), QByteArray("\x00\xff\xfe[\x01=\x02\n", 9));
        const IniFile garbage(binary);
        QVERIFY(garbage.isOpen());
        QCOMPARE(garbage.ReadInteger("ENTRY 1", "id", -1), -1);
    }

    void fileNameMatchesWithoutRegardToCase()
    {
        writeIni(QStringLiteral("VXUPGRADE.INI"), "[ENTRY 1]\nid=3\n");
        const IniFile ini(tmp.filePath(QStringLiteral("vxUpgrade.ini")));
        QVERIFY(ini.isOpen());
        QCOMPARE(ini.ReadInteger("ENTRY 1", "id", -1), 3);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
