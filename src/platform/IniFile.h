#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

namespace platform {

// A read-only INI file with the original platform's private-profile
// semantics, which the module catalogue relies on and QSettings does not
// have: section and key names match without regard to case; blanks around
// keys and values are dropped and one pair of enclosing quotes ('...' or
// "...") is stripped from a value; a value counts up to 2047 characters.
// The first section of a name and the first key of a name within it win.
// Lines before the first section, lines without "=" and ";" comments are
// ignored. The file is read once, when the object is made, as UTF-8.
class IniFile
{
public:
    // The path is resolved without regard to case. A file that is missing,
    // is not a regular file or cannot be read gives an empty profile.
    explicit IniFile(const QString &path);
    // A profile read from the bytes of an INI file, as if from a file.
    [[nodiscard]] static IniFile FromBytes(const QByteArray &bytes);

    [[nodiscard]] bool isOpen() const { return opened; }

    [[nodiscard]] QString ReadString(const QString &section, const QString &key,
                                     const QString &defaultValue) const;
    // The value read as an integer (see ParseProfileInteger); a missing or
    // unreadable value gives `defaultValue`.
    [[nodiscard]] qint32 ReadInteger(const QString &section, const QString &key,
                                     qint32 defaultValue) const;
    // An integer value, true when not zero; "true" or "yes" are not integers
    // and so give `defaultValue`.
    [[nodiscard]] bool ReadBool(const QString &section, const QString &key,
                                bool defaultValue) const;

    // Longest value that counts, in characters (a 2048-byte buffer with its
    // terminating zero on the original platform).
    static constexpr qsizetype MaxValueLength = 2047;

    // Parses an integer value: decimal with leading blanks and an optional
    // sign; hexadecimal when it begins with "$", or with "0x"/"0X" and is
    // longer than two characters. Hexadecimal takes up to 32 bits and wraps
    // into the signed range ("$FFFFFFFF" is -1), as the original's reader
    // did; a decimal value outside the signed 32-bit range, trailing
    // characters, or no digits at all give nothing.
    [[nodiscard]] static std::optional<qint32> ParseProfileInteger(const QString &text);

private:
    IniFile() = default;
    void read(const QByteArray &bytes);
    void parse(const QString &text);
    [[nodiscard]] std::optional<QString> lookUp(const QString &section, const QString &key) const;

    bool opened = false;
    // Section and key names are stored case-folded.
    QHash<QString, QHash<QString, QString>> sections;
};

} // namespace platform
