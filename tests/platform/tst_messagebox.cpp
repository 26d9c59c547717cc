#include "platform/MessageBox.h"

#include <QtTest>

class TestMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void responderSeesEveryBoxAndAnswersIt()
    {
        struct Box { QString text, caption; int flags; };
        QList<Box> seen;
        platform::SetMessageBoxResponder([&](const QString &text, const QString &caption, int flags) {
            seen.append({text, caption, flags});
            return flags == 36 ? int(platform::IDNO) : int(platform::IDOK);
        });

        QCOMPARE(platform::MessageBox("a\n\nb", "VX900 Upgrade", 16), int(platform::IDOK));
        QCOMPARE(platform::MessageBox("go on?", "VX900 Upgrade", 36), int(platform::IDNO));
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].text, QString("a\n\nb"));
        QCOMPARE(seen[1].flags, 36);

        const auto previous = platform::SetMessageBoxResponder({});
        QVERIFY(bool(previous));
    }
};

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
