#pragma once

#include "platform/MessageBox.h"

#include <QList>
#include <QString>

// Answers every message box with OK and keeps what it was asked, so that no
// test ever waits on a modal box. Restores the previous responder on exit.
class BoxRecorder
{
public:
    struct Box
    {
        QString text;
        QString caption;
        int flags = 0;
        bool operator==(const Box &) const = default;
    };

    BoxRecorder()
        : previous(platform::SetMessageBoxResponder([this](const QString &text, const QString &caption, int flags) {
            boxes.append({text, caption, flags});
            if (onBox)
                onBox();
            return int(platform::IDOK);
        }))
    {
    }
    ~BoxRecorder() { platform::SetMessageBoxResponder(previous); }
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    QList<Box> boxes;
    std::function<void()> onBox; // runs while a box is "open"

    [[nodiscard]] QStringList texts() const
    {
        QStringList result;
        for (const Box &box : boxes)
            result << box.text;
        return result;
    }

private:
    platform::MessageBoxResponder previous;
};

inline char *toString(const BoxRecorder::Box &box)
{
    return qstrdup(QStringLiteral("%1 | %2 | %3").arg(box.text, box.caption).arg(box.flags).toUtf8().constData());
}
