#pragma once

#include <QLockFile>
#include <QString>

// Keeps a second copy of the program from running: the first holds a lock file named after the
// key in the user's runtime directory. A lock left behind by a holder that died (even by
// SIGKILL) is recognised and taken over; a live holder keeps it however long it runs.
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &key, const QString &directory = lockDirectory());

    // False only when another live process holds the key. A lock that cannot be made at all
    // (unwritable or missing directory, full disk) does not keep the program from running.
    bool tryAcquire();
    QString lockFilePath() const;

    // The fixed, untranslated box a second instance shows before it gives up.
    static void showAlreadyRunning();

    // The user's runtime directory, else the temporary one.
    static QString lockDirectory();

private:
    QString path;
    QLockFile lock;
};
