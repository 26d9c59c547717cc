// The one rule for text from outside: what a hostile peer can put in an
// identity, a reply or a history field, and what a terminal then receives.
#include "platform/OutsideText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TestOutsideText : public QObject
{
    Q_OBJECT

private slots:
    void controlsNeverReachTheScreen_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("clear screen, colour")
            << QStringLiteral("VX900\x1b[2J\x1b[31mX") << QStringLiteral("VX900[2J[31mX");
        QTest::newRow("window title (OSC ... BEL)")
            << QStringLiteral("a\x1b]0;owned\x07z") << QStringLiteral("a]0;ownedz");
        QTest::newRow("C1 CSI, DEL") << QStringLiteral("a\u009b2Jb\x7f") << QStringLiteral("a2Jb");
        QTest::newRow("carriage return, tab, NUL") << QStringLiteral("a\rb\tc") + QChar(0) + u'd' << QStringLiteral("a b cd");
        QTest::newRow("bidirectional override, zero-width, BOM")
            << QStringLiteral("a\u202Eb\u200Bc\uFEFFd") << QStringLiteral("abcd");
        QTest::newRow("format character beyond the BMP (tag)")
            << QStringLiteral("a") + QString::fromUcs4(U"\U000E0041") + QStringLiteral("b") << QStringLiteral("ab");
        QTest::newRow("letters, signs and emoji kept")
            << QStringLiteral("Müller µ 5 °C ") + QString::fromUcs4(U"\U0001F600")
            << QStringLiteral("Müller µ 5 °C ") + QString::fromUcs4(U"\U0001F600");
    }

    void controlsNeverReachTheScreen()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(platform::PrintableText(text), shown);
        // Several lines keep their line feeds and nothing else.
        QCOMPARE(platform::PrintableLines(text + u'\n' + text), shown + u'\n' + shown);

        // JSON keeps the text whole, with not one control or format
        // character left raw in it.
        const QJsonObject object{{"identity", text}};
        const QByteArray json =
            platform::JsonWithoutControls(QJsonDocument(object).toJson(QJsonDocument::Compact));
        QCOMPARE(platform::PrintableText(QString::fromUtf8(json)), QString::fromUtf8(json));
        QCOMPARE(QJsonDocument::fromJson(json).object(), object);
        const QByteArray indented = platform::JsonWithoutControls(QJsonDocument(object).toJson());
        QCOMPARE(QJsonDocument::fromJson(indented).object(), object);
    }
};

QTEST_GUILESS_MAIN(TestOutsideText)
#include "tst_outsidetext.moc"
