#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Takes read permission away from an existing entry so that this test can't
// read it: a folder gets mode 0300 (enter and write, not list), a file 0200.
// Root reads through permissions, so as root the two capabilities that let
// it do so are dropped from this thread's effective set while the object
// lives (the permitted set keeps them, so they come back). Processes started
// meanwhile get their own full set at exec. Check usable() and skip with
// whyNot() when the entry stays readable all the same.
class UnreadableEntry
{
public:
    explicit UnreadableEntry(QString path)
        : entry(std::move(path))
    {
        struct stat st {};
        if (::stat(native().constData(), &st) != 0
            || ::chmod(native().constData(), S_ISDIR(st.st_mode) ? 0300 : 0200) != 0) {
            reason = QStringLiteral("cannot change the mode of ") + entry;
            return;
        }
        restoreMode = S_ISDIR(st.st_mode) ? 0700 : 0600;
        if (readable() && ::geteuid() == 0)
            dropped = setReadOverride(false);
        if (readable())
            reason = QStringLiteral("this process reads an entry without read permission even without the "
                                    "capabilities that let root read through permissions");
    }
    ~UnreadableEntry()
    {
        if (dropped)
            setReadOverride(true);
        if (restoreMode)
            ::chmod(native().constData(), restoreMode); // so that the temporary folder can go
    }
    UnreadableEntry(const UnreadableEntry &) = delete;
    UnreadableEntry &operator=(const UnreadableEntry &) = delete;

    [[nodiscard]] bool usable() const { return reason.isEmpty(); }
    [[nodiscard]] QByteArray whyNot() const { return reason.toUtf8(); }

private:
    [[nodiscard]] QByteArray native() const { return QFile::encodeName(entry); }

    [[nodiscard]] bool readable() const
    {
        const int fd = ::open(native().constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }

    // CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH in the effective set.
    static bool setReadOverride(bool on)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) != 0)
            return false;
        const quint32 bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        data[0].effective = on ? (data[0].effective | (bits & data[0].permitted)) : (data[0].effective & ~bits);
        return ::syscall(SYS_capset, &header, data) == 0;
    }

    QString entry;
    QString reason;
    mode_t restoreMode = 0;
    bool dropped = false;
};
