#pragma once

// The command line's sync commands: setting sync up for a contact file, running one sync, and turning it off.

#include <QString>

namespace brisolta {

struct SyncRequest
{
    QString path; // the contact file
    QString server;
    QString user;
    QString addressBook;
    QString trusted; // the fingerprint of a certificate the user confirmed
    bool passwordOnStdin = false;
    bool cleartext = false;
    bool dryRun = false;
    bool force = false;
};

// Each returns the exit status as the other commands do: 0 done, 1 failed, 2 wrong usage.
int setUpSync(const SyncRequest &request);
int runSync(const SyncRequest &request);
int turnSyncOff(const SyncRequest &request);

} // namespace brisolta
