#pragma once

#include <QLockFile>
#include <QString>

// Keeps a second copy of the program from running: the first holds a lock file named after the
// key in the user's runtime directory. A lock left behind by a holder that died (even by
// SIGKILL) is recognised and taken over; a live holder keeps it however long it runs.
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &key);

    // True when this process is now the only holder of the key.
    bool tryAcquire();
    QString lockFilePath() const;

    // The fixed, untranslated box a second instance shows before it gives up.
    static void showAlreadyRunning();

private:
    static QString lockDirectory();

    QString path;
    QLockFile lock;
};
