#include "RunFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

QString ProgramFolder::write(const QString &relativePath, const QByteArray &content)
{
    const QString full = dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile file(full);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write fixture file %s", qPrintable(full));
    return full;
}

void ProgramFolder::makeFolder(const QString &relativePath)
{
    QDir().mkpath(dir.filePath(relativePath));
}

void ProgramFolder::writeIni(const QList<Entry> &entries)
{
    QByteArray text;
    for (int i = 0; i < entries.size(); ++i) {
        text += "[ENTRY " + QByteArray::number(i + 1) + "]\r\n";
        text += "id=" + QByteArray::number(entries[i].id) + "\r\n";
        text += "name=" + entries[i].name.toUtf8() + "\r\n";
        text += "hasSignal=" + QByteArray::number(entries[i].hasSignal) + "\r\n";
    }
    write(QStringLiteral("vxUpgrade.ini"), text);
}

QStringList BoxAnswers::texts() const
{
    QStringList all;
    for (const Box &box : shown)
        all.append(box.text);
    return all;
}

int BoxAnswers::take(const QString &text, const QString &caption, int flags)
{
    const Box box{text, caption, flags};
    shown.append(box);
    if (whileShown)
        whileShown(box);
    if (answer)
        return answer(box);
    return platform::IsQuestion(flags) ? int(platform::IDYES) : int(platform::IDOK);
}

BoxLog::BoxLog()
{
    previous = platform::SetMessageBoxResponder(
        [this](const QString &text, const QString &caption, int flags) { return take(text, caption, flags); });
}

BoxLog::~BoxLog()
{
    platform::SetMessageBoxResponder(previous);
}

QByteArray sampleBytes(qsizetype size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2166136261u ^ quint32(seed);
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

QStringList withCopyRunsSorted(QStringList lines)
{
    const QString copying = QStringLiteral("Copying... ");
    for (qsizetype start = 0; start < lines.size();) {
        qsizetype end = start;
        while (end < lines.size() && lines[end].startsWith(copying))
            ++end;
        std::sort(lines.begin() + start, lines.begin() + end);
        start = end == start ? start + 1 : end;
    }
    return lines;
}

QString sourceOf(const QString &driveFile)
{
    if (driveFile.startsWith(QLatin1String("SYSTEM/")))
        return QStringLiteral("MainFrame/") + driveFile.mid(7);
    return QStringLiteral("target/") + driveFile;
}
