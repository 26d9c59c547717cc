#include "gui/Application.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"
#include "platform/UserAction.h"
#include "platform/ProgramFile.h"

#include <QFileInfo>
#include <QPushButton>
#include <QtTest>

namespace {

struct Box
{
    QString text, caption;
    int flags;
};

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private:
    QList<Box> boxes;

private slots:
    void init()
    {
        boxes.clear();
        platform::SetMessageBoxResponder([this](const QString &text, const QString &caption, int flags) {
            boxes.append({text, caption, flags});
            return int(platform::IDOK);
        });
    }

    void cleanup() { platform::SetMessageBoxResponder({}); }

    void exceptionFromAUserActionIsShownAndTheWindowStays_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("system exception") << 0 << "Connection refused";
        QTest::newRow("conversion error") << 1 << "'12x' is not a valid integer value";
        QTest::newRow("standard exception") << 2 << "bad_alloc-like";
        QTest::newRow("anything else") << 3 << "Unknown error";
    }

    void exceptionFromAUserActionIsShownAndTheWindowStays()
    {
        QFETCH(int, kind);
        QFETCH(QString, message);
        QWidget window;
        auto *button = new QPushButton(QStringLiteral("Copy"), &window);
        int clicks = 0;
        // Connected as every handler of the program is: through the guard,
        // so the exception never gets back into Qt's event delivery.
        connect(button, &QPushButton::clicked, &window, platform::GuardUserAction([&] {
            ++clicks;
            switch (kind) {
            case 0: throw Exception(message);
            case 1: throw EConvertError(message);
            case 2: throw std::runtime_error(message.toStdString());
            default: throw 42;
            }
        }));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, message);
        QCOMPARE(boxes[0].caption, platform::ErrorCaption());
        QCOMPARE(boxes[0].flags, int(platform::MB_ICONERROR));
        QVERIFY(window.isVisible());

        // The program goes on: the next action is handled (and shown) too.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks, 2);
        QCOMPARE(boxes.size(), 2);
    }

    void exceptionEscapingStartUpIsShownAndEndsWithZero()
    {
        const int result = platform::RunGuarded([] { throw Exception(QStringLiteral("cannot start")); });
        QCOMPARE(result, 0);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("cannot start"));
        QCOMPARE(boxes[0].flags, int(platform::MB_ICONERROR));

        bool ran = false;
        QCOMPARE(platform::RunGuarded([&] { ran = true; }), 0);
        QVERIFY(ran);
        QCOMPARE(boxes.size(), 1);
    }

    void moduleFileNameIsTheRunningExecutable()
    {
        const QString path = platform::ModuleFileName();
        QCOMPARE(path, QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
        QVERIFY(path.startsWith(u'/'));
    }
};

int main(int argc, char **argv)
{
    platform::TApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
