#pragma once

#include <QObject>
#include <QTimer>

class ConnectionTable;
class StateStore;

// Saves the connection table a moment after it changes, so that changes made together are
// saved together. A save that fails is tried again, with growing pauses, until one succeeds;
// meanwhile every listing tells why changes are not being saved (ServiceKeys::kSaveError), and
// the log tells it once.
class StateSaver : public QObject
{
    Q_OBJECT

public:
    StateSaver(ConnectionTable &table, const StateStore &store, QObject *parent = nullptr);

    // Saves at once what is not saved yet; at exit.
    void flush();

private:
    void scheduleSave();
    void save();
    void report(const QString &error);

    ConnectionTable &table;
    const StateStore &store;
    QTimer timer;
    // Saves that failed in a row; 0 while saving works.
    int failures = 0;
};
