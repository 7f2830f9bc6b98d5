#pragma once

#include <QString>

class PortDirectory;

// The COMn link in the port directory that leads programs to a pty slave. Beside it a hidden
// record names the process that made it and its target, and outlives that process: a name is
// taken over only when it holds a link so recorded whose maker is gone (or no longer holds the
// pty), and never removed unless it still leads to this port's slave. Everything happens
// relative to the open port directory, which must outlive the link.
class PortLink
{
public:
    PortLink(const PortDirectory &directory, const QString &target);
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    // Puts the link under name, then removes the previous one; false with the reason, the
    // previous link kept, when name is taken.
    bool place(const QString &name, QString *reason);

    // Removes, with their records, the links in directory that services which ended without
    // removing them left; nothing else.
    static void removeStale(const PortDirectory &directory);

private:
    bool isFree(const QString &name, QString *reason) const;
    bool put(const QString &name, const QString &content, QString *reason) const;
    void removeIfMine(const QString &name, const QString &content) const;
    void remove();
    QString makeTemporaryLink(const QString &name, const QString &content) const;

    const PortDirectory &directory;
    QString target;
    QString record;
    QString current;
};
