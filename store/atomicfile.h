#pragma once

// A file that appears whole or not at all: built under a pending name that a lock keeps for one builder, then moved
// into place, never over another file (or over the one it replaces, kept first under a second name), and made
// durable. Every platform difference of the store is here.

#include <QString>

class PendingFile
{
public:
    // Takes the empty pending file for `path`, readable by its owner only; fails when `path` exists, unless it is to
    // be replaced (`keptPath` not empty). Another builder of the same file is waited for.
    PendingFile(const QString &path, const QString &keptPath);
    // Without putInPlace, the pending file goes and `path` is left as it was.
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    QString pendingPath() const { return m_pending; }
    // Keeps the replaced file under keptPath (or keptPath.1, .2, ...: never over another file), then moves the
    // finished pending file to `path`. The file must be closed.
    void putInPlace();

private:
    QString m_path;
    QString m_keptPath;
    QString m_pending;
    int m_lock = -1;
    bool m_placed = false;
};
