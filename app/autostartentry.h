#pragma once

#include <QString>

// A desktop entry in the user's autostart folder ($XDG_CONFIG_HOME/autostart, by default
// ~/.config/autostart) that starts a program when the user logs on. Its presence is the whole
// state: an entry of that name counts as on, whoever wrote it and wherever it points.
class AutostartEntry
{
public:
    explicit AutostartEntry(const QString &name);

    QString filePath() const;
    bool exists() const;
    bool write(const QString &program) const;
    bool remove() const;

    // The program path as the Exec value of a desktop entry: quoted only when it holds a
    // character the format reserves, and escaped so that a launcher runs exactly this path.
    static QString execValue(const QString &program);

private:
    QString name;
};
