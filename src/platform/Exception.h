#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The general exception of the system: every error raised by a lower layer
// carries the message text the operator will read. The main loop shows it
// in an error box (the window stays open).
class Exception : public std::exception
{
public:
    explicit Exception(QString message)
        : Message(std::move(message))
        , utf8(Message.toUtf8())
    {
    }

    const char *what() const noexcept override { return utf8.constData(); }

    QString Message;

private:
    QByteArray utf8;
};

// A text that does not read as the number it should be.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};
