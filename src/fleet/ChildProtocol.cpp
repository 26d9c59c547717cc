#include "fleet/ChildProtocol.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

namespace fleet {

namespace {

QByteArray line(const char *key, const QJsonValue &value)
{
    return QJsonDocument(QJsonObject{{QLatin1String(key), value}}).toJson(QJsonDocument::Compact) + '\n';
}

const QStringList &knownKeys()
{
    static const QStringList keys{QStringLiteral("memo"), QStringLiteral("box"), QStringLiteral("step"),
                                  QStringLiteral("progress"), QStringLiteral("file"), QStringLiteral("identity"),
                                  QStringLiteral("record")};
    return keys;
}

ChildEvent textEvent(const QByteArray &line)
{
    ChildEvent event;
    event.kind = ChildEvent::Kind::Text;
    event.text = QString::fromUtf8(line);
    return event;
}

} // namespace

std::optional<ChildEvent> parseChildLine(const QByteArray &raw)
{
    QByteArray bytes = raw;
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    if (bytes.trimmed().isEmpty())
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject() || document.object().size() != 1)
        return textEvent(bytes);

    const QJsonObject object = document.object();
    const QString key = object.begin().key();
    const QJsonValue value = object.begin().value();
    ChildEvent event;
    const QJsonObject fields = value.toObject();
    if (key == QLatin1String("memo") && value.isString()) {
        event.kind = ChildEvent::Kind::Memo;
        event.text = value.toString();
    } else if (key == QLatin1String("identity") && value.isString()) {
        event.kind = ChildEvent::Kind::Identity;
        event.text = value.toString();
    } else if (key == QLatin1String("box") && value.isObject()) {
        event.kind = ChildEvent::Kind::Box;
        event.name = fields.value(QLatin1String("kind")).toString();
        event.caption = fields.value(QLatin1String("caption")).toString();
        event.text = fields.value(QLatin1String("text")).toString();
        event.outcome = fields.value(QLatin1String("answer")).toString();
    } else if (key == QLatin1String("step") && value.isObject()) {
        event.kind = ChildEvent::Kind::Step;
        event.name = fields.value(QLatin1String("name")).toString();
        event.text = fields.value(QLatin1String("detail")).toString();
    } else if (key == QLatin1String("progress") && value.isObject()) {
        event.kind = ChildEvent::Kind::Progress;
        event.done = fields.value(QLatin1String("done")).toInteger();
        event.total = fields.value(QLatin1String("total")).toInteger();
        event.path = fields.value(QLatin1String("file")).toString();
    } else if (key == QLatin1String("file") && value.isObject()) {
        event.kind = ChildEvent::Kind::File;
        event.path = fields.value(QLatin1String("path")).toString();
        event.total = fields.value(QLatin1String("size")).toInteger();
        event.outcome = fields.value(QLatin1String("outcome")).toString();
    } else if (key == QLatin1String("record") && value.isObject()) {
        event.kind = ChildEvent::Kind::Record;
        event.record = fields;
    } else if (knownKeys().contains(key)) {
        return textEvent(bytes); // a known event of the wrong shape: shown rather than lost
    } else {
        return std::nullopt;
    }
    return event;
}

QList<ChildEvent> ChildLineReader::feed(const QByteArray &bytes)
{
    QList<ChildEvent> events;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', start);
        const qsizetype stop = end < 0 ? bytes.size() : end;
        if (!skippingOverlong) {
            pending.append(bytes.constData() + start, stop - start);
            if (pending.size() > MaxLineBytes) {
                pending.clear();
                skippingOverlong = true;
                events << textEvent(QByteArrayLiteral("(a line of the child's output longer than 64 MiB was cut off)"));
            }
        }
        if (end < 0)
            break;
        if (!skippingOverlong) {
            if (std::optional<ChildEvent> event = parseChildLine(pending))
                events << std::move(*event);
        }
        pending.clear();
        skippingOverlong = false;
        start = end + 1;
    }
    return events;
}

QList<ChildEvent> ChildLineReader::finish()
{
    QList<ChildEvent> events;
    if (!skippingOverlong) {
        if (std::optional<ChildEvent> event = parseChildLine(pending))
            events << std::move(*event);
    }
    pending.clear();
    skippingOverlong = false;
    return events;
}

namespace childline {

QByteArray memo(const QString &text)
{
    return line("memo", text);
}

QByteArray box(const QString &kind, const QString &caption, const QString &text, const QString &answer)
{
    QJsonObject fields{{QStringLiteral("kind"), kind}, {QStringLiteral("caption"), caption},
                       {QStringLiteral("text"), text}};
    if (!answer.isEmpty())
        fields.insert(QStringLiteral("answer"), answer);
    return line("box", fields);
}

QByteArray step(const QString &name, const QString &detail)
{
    QJsonObject fields{{QStringLiteral("name"), name}};
    if (!detail.isEmpty())
        fields.insert(QStringLiteral("detail"), detail);
    return line("step", fields);
}

QByteArray progress(qint64 done, qint64 total, const QString &file)
{
    return line("progress", QJsonObject{{QStringLiteral("done"), done}, {QStringLiteral("total"), total},
                                        {QStringLiteral("file"), file}});
}

QByteArray file(const QString &path, qint64 size, const QString &outcome)
{
    return line("file", QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("size"), size},
                                    {QStringLiteral("outcome"), outcome}});
}

QByteArray identity(const QString &text)
{
    return line("identity", text);
}

QByteArray record(const QJsonObject &record)
{
    return line("record", record);
}

} // namespace childline

} // namespace fleet
