// Telling instruments apart by their "*IDN?" replies, and finding an entry
// in a catalogue reply of either form.
#include "instrument/CatalogueReply.h"
#include "instrument/InstrumentIdentity.h"

#include <QtTest>

class TestIdentity : public QObject
{
    Q_OBJECT

private slots:
    void sameInstrument_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QString>("addressA");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<QString>("addressB");
        QTest::addColumn<bool>("same");
        const QByteArray idn("ALVO/BRECKMOOR,VX900,SN42,1.00");
        const QString here("10.0.0.5");
        QTest::newRow("identical") << idn << here << idn << here << true;
        QTest::newRow("new firmware") << idn << here << QByteArray("ALVO/BRECKMOOR,VX900,SN42,2.10\r\n") << here << true;
        QTest::newRow("blanks around fields") << idn << here << QByteArray("ALVO/BRECKMOOR, VX900 ,SN42") << here << true;
        QTest::newRow("same serial, other address") << idn << here << idn << "10.0.0.6" << true;
        QTest::newRow("other serial") << idn << here << QByteArray("ALVO/BRECKMOOR,VX900,SN43,1.00") << here << false;
        QTest::newRow("other model") << idn << here << QByteArray("ALVO/BRECKMOOR,VX910,SN42,1.00") << here << false;
        QTest::newRow("other maker") << idn << here << QByteArray("ACME,VX900,SN42,1.00") << here << false;
        QTest::newRow("no serial, same address")
            << QByteArray("ALVO/BRECKMOOR,VX900,,1.00") << here << QByteArray("ALVO/BRECKMOOR,VX900,,2.00") << here
            << true;
        QTest::newRow("no serial, other address")
            << QByteArray("ALVO/BRECKMOOR,VX900,,1.00") << here << QByteArray("ALVO/BRECKMOOR,VX900,,1.00")
            << "10.0.0.6" << false;
        QTest::newRow("serial lost") << idn << here << QByteArray("ALVO/BRECKMOOR,VX900,,1.00") << here << false;
        QTest::newRow("no reply") << idn << here << QByteArray() << here << false;
    }

    void sameInstrument()
    {
        QFETCH(QByteArray, a);
        QFETCH(QString, addressA);
        QFETCH(QByteArray, b);
        QFETCH(QString, addressB);
        QFETCH(bool, same);
        QCOMPARE(SameInstrument(a, addressA, b, addressB), same);
        QCOMPARE(SameInstrument(b, addressB, a, addressA), same);
    }

    void listsEntry_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("listed");
        QTest::newRow("name in quotes") << QByteArray("6,100,\"NAME\",FILE,6") << true;
        QTest::newRow("SCPI form") << QByteArray("12,100,\"MID3,DIR,0\",\"NAME,ASC,12\"") << true;
        QTest::newRow("SCPI form, longer name") << QByteArray("12,100,\"NAMES,ASC,12\"") << false;
        QTest::newRow("longer name") << QByteArray("6,100,\"NAME.OLD\",FILE,6") << false;
        QTest::newRow("SCPI form, no size") << QByteArray("6,100,\"NAME,ASC,\"") << false;
        QTest::newRow("name and one field") << QByteArray("6,100,\"NAME,6\"") << false;
        QTest::newRow("empty folder") << QByteArray("0,100,") << false;
        QTest::newRow("unclosed quote") << QByteArray("0,100,\"NAME,ASC,12") << false;
    }

    void listsEntry()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, listed);
        QCOMPARE(CatalogueReply::ListsEntry(reply, "NAME"), listed);
    }
};

QTEST_GUILESS_MAIN(TestIdentity)
#include "tst_identity.moc"
