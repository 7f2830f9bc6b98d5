#include "statesaver.h"

#include "connectiontable.h"
#include "servicekeys.h"
#include "statestore.h"

#include <QDebug>

#include <algorithm>

namespace {

// Each save syncs the file to the disk, and making 255 ports is over a thousand changes.
constexpr int kSaveDelayMs = 50;
// After a failed save: the first pause, doubled at each failure up to the longest.
constexpr int kFirstRetryMs = 500;
constexpr int kLongestRetryMs = 10000;

} // namespace

StateSaver::StateSaver(ConnectionTable &table, const StateStore &store, QObject *parent)
    : QObject(parent)
    , table(table)
    , store(store)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &StateSaver::save);
    connect(&table, &ConnectionTable::changed, this, &StateSaver::scheduleSave);
    if (!store.blockedReason().isEmpty())
        report(store.blockedReason());
}

void StateSaver::flush()
{
    if (!timer.isActive())
        return;
    timer.stop();
    save();
}

// A pending retry saves the latest table too, so it is not brought forward.
void StateSaver::scheduleSave()
{
    if (!timer.isActive())
        timer.start(kSaveDelayMs);
}

void StateSaver::save()
{
    QString error;
    if (store.save(table, &error)) {
        if (failures > 0)
            qInfo().noquote() << store.path() << ": saved again after" << failures
                              << "failed tries";
        failures = 0;
        report(QString());
        return;
    }
    if (failures == 0)
        qWarning().noquote() << store.path() << ": cannot save the connections:" << error
                             << "- trying again until it works";
    ++failures;
    report(error);
    timer.start(std::min(kLongestRetryMs, kFirstRetryMs << std::min(failures - 1, 5)));
}

void StateSaver::report(const QString &error)
{
    table.setServiceStatus(ServiceKeys::kSaveError, error);
}
