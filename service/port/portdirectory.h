#pragma once

#include <QString>

// The folder holding the COM links: $TIRV_PORT_DIR, else $XDG_RUNTIME_DIR/tirv, else
// /tmp/tirv-<uid>. It is opened once and every link is made, read, renamed and removed relative
// to that descriptor, so nobody can swap the folder for another behind the service's back; and
// it is opened only when nobody else could swap it either: a folder of this user that only it
// may write, under folders that only it or root may write (or that are sticky, like /tmp).
class PortDirectory
{
public:
    // The folder as the environment names it now, absolute and cleaned.
    static QString defaultPath();

    // defaultPath() as of now; nothing is opened yet.
    PortDirectory();
    ~PortDirectory();
    PortDirectory(const PortDirectory &) = delete;
    PortDirectory &operator=(const PortDirectory &) = delete;

    // Opens the folder the first time (making it, and missing folders above it, with mode
    // 0700); true at once after that. False with the reason when it is not safe.
    bool open(QString *reason);
    bool isOpen() const { return fd >= 0; }
    int descriptor() const { return fd; }
    QString path() const { return folder; }
    // Where an entry of the folder shows, for messages.
    QString pathOf(const QString &name) const;

private:
    bool openStep(
        int *current, const QString &name, const QString &path, bool last, QString *reason) const;

    QString folder;
    int fd = -1;
};
