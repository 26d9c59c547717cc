#pragma once

#include <QHash>
#include <QString>

#include <memory>

class TfrmVX900;
struct FolderListing;

namespace upgrade {

// What the instrument holds at one path.
struct DrivePlace
{
    enum class State {
        Present,  // a file, with its size
        Absent,   // no file there
        CantTell, // nothing could say (a file whose size none will tell too): see why
    };
    State state = State::CantTell;
    qint64 size = -1; // with Present
    QString why;      // with CantTell
};

// The drive as the undo steps see it: one listing per folder (the FTP
// server's MLSD, else the instrument's catalogue), SIZE for a file no
// listing can size or a folder no listing shows. This is the one place
// those steps learn the drive, so that it can give way to the run's own
// drive lookup without touching them. Socket errors and time-outs raise.
class DrivePlaces
{
public:
    explicit DrivePlaces(TfrmVX900 &link);
    ~DrivePlaces();
    DrivePlaces(const DrivePlaces &) = delete;
    DrivePlaces &operator=(const DrivePlaces &) = delete;

    [[nodiscard]] DrivePlace at(const QString &instrumentPath);

private:
    [[nodiscard]] DrivePlace bySize(const QString &instrumentPath);

    TfrmVX900 &link;
    QHash<QString, std::shared_ptr<const FolderListing>> listings; // per folder, once
    bool imageType = false;
};

} // namespace upgrade
