#pragma once

#include "records.h"
#include "secapi.h"
#include "servicekeys.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The task operations on the connection service: listing the virtual ports, creating,
// deleting, clearing and renaming them. No thread of its own; the worker thread and the
// command-line tool call the same operations. Messages for the user come back translated
// (context "RefreshTree") through the QString& argument, empty when there is nothing to tell; a
// failure's message has the service's reason on a second line when it gave one. A creation
// that fails leaves no port of it behind.
class PortOperations : public QObject
{
    Q_OBJECT

public:
    using PortNameSource = std::function<QStringList()>;

    explicit PortOperations(QObject *parent = nullptr);

    // Where the system's serial-port names come from; systemSerialPortNames() by default.
    void setPortNameSource(PortNameSource source);

    // Lists this program's virtual ports in service order and emits updateComInfo. Returns
    // false (and emits nothing) when the service could not list its connections. A listing that
    // brought nothing new hands on the last list as it is.
    bool refreshComInfo(QList<COMS_INFO> *comsInfo = nullptr);

    // New ports are RAW unless another protocol is given.
    void createDevicePorts(int portCount, const QString &devType, const QString &devIp,
        const QString &devMac, QString &message,
        const QString &protocol = ServiceKeys::kProtocolRaw);
    void createOnePort(int portCount, int portSeq, const QString &devType, const QString &devIp,
        const QString &devMac, QString &message,
        const QString &protocol = ServiceKeys::kProtocolRaw);
    void clearDevicePorts(const QString &devIp, QString &message);
    void deleteComPort(const QString &comName, QString &message);
    void modifyComPort(const QString &comName, const QString &newComName, QString &message);
    void setPortConfig(const QString &comName, const PortConfig &config, QString &message);

    // The number after which n consecutive COM numbers are free.
    int findFreeComBase(int n);
    void refreshSystemComNames();
    QStringList systemComNames() const { return comNames; }

    // Shorter names first; names of equal length by the number their digits form.
    static bool comNameLess(const QString &a, const QString &b);

signals:
    void setProgressValue(int value);
    void hideProgress();
    void removeDev(QString ip);
    void updateComInfo(QList<COMS_INFO> comsInfo);

private:
    struct StateTexts;
    // A connection name and what it says: the device fields, or that the port is not ours.
    struct ParsedName
    {
        bool ours = false;
        COMS_INFO device;
    };
    using ParsedNames = QHash<QString, ParsedName>;

    // This program's ports among the listed handles, read from the listing just made.
    QList<COMS_INFO> readRecords(const QList<ConnectionHandle> &handles, const StateTexts &texts);
    // False when the connection is not one of ours and must be left out of the listing. The
    // name read is added to *parsed.
    bool readRecord(ConnectionHandle handle, const StateTexts &texts, ParsedNames *parsed,
        COMS_INFO *record) const;
    // base + portSeq, or the lowest free number when that one is taken or beyond COM255; 0
    // when no number up to COM255 is free.
    int comNumberFor(int portSeq);

    PortNameSource portNames;
    QStringList comNames;
    // The names of the last listing, so that names unchanged since are not parsed again.
    ParsedNames lastNames;
    // The records of the last listing, the generation they were read at and the state texts
    // they hold: while none of these changes they are listed again as they are.
    QList<COMS_INFO> lastRecords;
    quint64 lastGeneration = 0;
    QStringList lastStateTexts;
};
