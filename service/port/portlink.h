#pragma once

#include <QString>

// The COMn link in the port directory that leads programs to a pty slave. Beside it a hidden
// record names the process that made it and its target, and outlives that process: a path is
// replaced only when it holds a link so recorded whose maker is gone (or no longer holds the
// pty), and never deleted unless it still leads to this port's slave.
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
    bool put(const QString &path, const QString &content, QString *reason) const;
    void removeIfMine(const QString &path, const QString &content) const;
    void remove();

    QString target;
    QString record;
    QString current;
};
