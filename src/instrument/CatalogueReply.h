#pragma once

#include <QByteArray>

// Reading the instrument's catalogue reply ("MMEM:CAT?"): used bytes, free
// bytes, then the entries, each name alone between double quotes.
namespace CatalogueReply {

// The free-space field: the text between the first and the second comma,
// converted by StrToInt64. A negative value (a drive over 2 GiB read
// through a signed 32-bit field) is returned as it is. Throws EConvertError
// when there is no second comma, the field is not a number, or it is below
// -2^31.
[[nodiscard]] qint64 FreeSpace(const QByteArray &reply);

// True when the reply holds a double quote, `name` and a double quote, in
// that order and adjacent (exact bytes).
[[nodiscard]] bool ListsName(const QByteArray &reply, const QByteArray &name);

// True when an entry of the reply is named `name` (exact bytes), in either
// of the forms instruments use: the name alone in quotes followed by its
// type and size ("NAME",FILE,6), or the SCPI form with all three inside
// the quotes ("NAME,ASC,12").
[[nodiscard]] bool ListsEntry(const QByteArray &reply, const QByteArray &name);

// The instrument's integer text: leading blanks, an optional sign, then
// decimal digits or hexadecimal ones after "$" or "0x". Anything else, an
// empty text or a value beyond 64 bits throws EConvertError.
[[nodiscard]] qint64 StrToInt64(const QByteArray &text);

} // namespace CatalogueReply

#include <QList>

#include <optional>

namespace CatalogueReply {

// One entry of the catalogue reply's rest.
struct Entry
{
    QByteArray name;
    QByteArray type; // "FILE", "DIR", "ASC", "BIN"... as the instrument says
    qint64 size = -1; // -1: the entry carries no size
};

// The entries after the free space, in either form an instrument uses:
// the SCPI one, each entry one quoted string "name,type,size", or the name
// alone in quotes followed by its type and size, "name",type,size. A
// doubled quote inside quotes is one quote. Nothing when the rest follows
// neither form: then nothing can be said about what the folder holds.
[[nodiscard]] std::optional<QList<Entry>> Entries(const QByteArray &reply);

} // namespace CatalogueReply
