#pragma once

#include <QString>

class ConnectionTable;

// The connection table on disk, so that the ports come back after a crash, a logout or a
// reboot. A save replaces the file only once the new one is wholly written and on the disk. A
// file that cannot be read back, has not the expected shape or passes the service's limits is
// moved aside under a new name, never overwritten, and the service starts with an empty table.
// When it can be neither read nor moved aside, nothing is saved until the next start.
class StateStore
{
public:
    explicit StateStore(const QString &path);

    // connections.json in the state directory.
    static QString defaultPath();

    QString path() const { return filePath; }
    // Fills the empty table from the file (a missing file is an empty table).
    void load(ConnectionTable &table);
    // False, with the reason in *error, when the file was left as it was.
    bool save(const ConnectionTable &table, QString *error = nullptr) const;
    // Why nothing can be saved until the next start; empty when saves are made.
    QString blockedReason() const { return blocked; }

private:
    bool moveAside(const QString &reason) const;
    void keepFile();

    QString filePath;
    // Set when the file holds connections that were not restored.
    QString blocked;
};
