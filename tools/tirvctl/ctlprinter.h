#pragma once

#include <QCoreApplication>
#include <QJsonObject>
#include <QList>

class PortListing;
struct ListedPort;
struct PortReport;
class QTextStream;
struct SearchRow;

// Writes what tirvctl found: aligned text for people, or one JSON document for scripts.
class CtlPrinter
{
    Q_DECLARE_TR_FUNCTIONS(CtlPrinter)

public:
    CtlPrinter(QTextStream &out, bool json);

    void printListing(const PortListing &listing);
    void printSearchRows(const QList<SearchRow> &rows);
    // One port with every setting and its line: for RFC 2217 the device's, for RAW what
    // programs started by tirv-run set.
    void printPort(const ListedPort &port);

private:
    void printListingText(const PortListing &listing);
    void printListingJson(const PortListing &listing);
    void printSearchText(const QList<SearchRow> &rows);
    void printSearchJson(const QList<SearchRow> &rows);
    void printPortText(const ListedPort &port);
    QList<QStringList> lineRows(const ListedPort &port) const;
    QStringList portRow(const ListedPort &port) const;
    QJsonObject portObject(const ListedPort &port) const;
    // The service's word for how far a device takes the line's settings, for people.
    static QString supportText(const QString &support);
    static QJsonObject reasonObject(const PortReport &report);
    static QJsonObject countersObject(const PortReport &report);
    void printTable(const QList<QStringList> &table, const QString &indent);

    QTextStream &out;
    bool json;
};
