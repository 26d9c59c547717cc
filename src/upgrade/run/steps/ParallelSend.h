#pragma once

#include "instrument/FtpSessionPool.h"
#include "upgrade/kit/SentKitFile.h"
#include "upgrade/run/RunObserver.h"

#include <unordered_map>

#include <memory>
#include <vector>

namespace upgrade {

// The copy over several FTP sessions: the sessions beside the link's, and
// the files of a phase's plan collected for them.
struct ParallelSend
{
    ParallelSend(FtpSessionPool::Settings settings, int asked, bool automatic)
        : pool(std::move(settings), asked - 1)
        , asked(asked)
        , automatic(automatic)
    {
    }

    // A file handed to the sessions; its kit file is touched only by the
    // session sending it until its outcome is back.
    struct Pending
    {
        FileTransfer file;
        std::unique_ptr<SentKitFile> kitFile;
    };

    FtpSessionPool pool;
    int asked;      // sessions asked for, the link's own included
    bool automatic; // --sessions auto
    bool settled = false; // every session has opened or been refused
    std::vector<FileTransfer> collected;
    std::unordered_map<int, Pending> pending; // by ticket
    int lastTicket = 0;
};

// Ends the extra sessions with the copy, however it ends.
struct SessionsScope
{
    std::unique_ptr<ParallelSend> &sessions;
    ~SessionsScope() { sessions.reset(); }
};

} // namespace upgrade
