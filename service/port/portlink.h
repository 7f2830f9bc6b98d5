#pragma once

#include <QString>

// The COMn link in the port directory that leads programs to a pty slave. A path that holds
// anything but a stale pty link is never replaced or deleted; the link is removed on
// destruction only while it still leads to this port's slave.
class PortLink
{
public:
    explicit PortLink(const QString &target);
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    // Puts the link at path, then removes the previous one; false with the reason, the previous
    // link kept, when path is taken.
    bool place(const QString &path, QString *reason);
    QString path() const { return current; }

private:
    bool isFree(const QString &path, QString *reason) const;
    void remove();

    QString target;
    QString current;
};
