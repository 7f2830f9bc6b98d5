#include "ctlprinter.h"

#include "portlisting.h"
#include "searchresults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

CtlPrinter::CtlPrinter(QTextStream &out, bool json)
    : out(out)
    , json(json)
{
}

void CtlPrinter::printListing(const PortListing &listing)
{
    if (json)
        printListingJson(listing);
    else
        printListingText(listing);
    out.flush();
}

void CtlPrinter::printSearchRows(const QList<SearchRow> &rows)
{
    if (json)
        printSearchJson(rows);
    else
        printSearchText(rows);
    out.flush();
}

void CtlPrinter::printListingText(const PortListing &listing)
{
    if (listing.devices().isEmpty()) {
        out << tr("No virtual ports.") << '\n';
        return;
    }
    for (const ListedDevice &device : listing.devices()) {
        out << tr("Device %1  type %2  ports %3  MAC %4")
                   .arg(device.ip, device.type, QString::number(device.portCount), device.mac)
            << '\n';
        QList<QStringList> table;
        for (const ListedPort &port : device.ports) {
            const QString target = port.tcpPort
                ? QStringLiteral("%1:%2").arg(port.tcpHost).arg(port.tcpPort)
                : QStringLiteral("-");
            table.append({ port.comName, tr("port %1").arg(port.devicePort), target, port.state,
                port.link });
        }
        printTable(table, QStringLiteral("  "));
    }
}

void CtlPrinter::printListingJson(const PortListing &listing)
{
    QJsonArray devices;
    for (const ListedDevice &device : listing.devices()) {
        QJsonArray ports;
        for (const ListedPort &port : device.ports) {
            ports.append(QJsonObject {
                { QStringLiteral("comName"), port.comName },
                { QStringLiteral("link"), port.link },
                { QStringLiteral("devicePort"), port.devicePort },
                { QStringLiteral("tcpHost"), port.tcpHost },
                { QStringLiteral("tcpPort"), port.tcpPort },
                { QStringLiteral("state"), port.state },
                { QStringLiteral("stateKey"), port.stateKey },
            });
        }
        devices.append(QJsonObject {
            { QStringLiteral("ip"), device.ip },
            { QStringLiteral("type"), device.type },
            { QStringLiteral("portCount"), device.portCount },
            { QStringLiteral("mac"), device.mac },
            { QStringLiteral("ports"), ports },
        });
    }
    const QJsonObject root { { QStringLiteral("portDirectory"), listing.portDirectory() },
        { QStringLiteral("devices"), devices } };
    out << QJsonDocument(root).toJson(QJsonDocument::Indented);
}

void CtlPrinter::printSearchText(const QList<SearchRow> &rows)
{
    if (rows.isEmpty()) {
        out << tr("No devices found.") << '\n';
        return;
    }
    QList<QStringList> table { { tr("Type"), tr("Ports"), tr("MAC"), tr("IP") } };
    for (const SearchRow &row : rows)
        table.append({ row.devType, row.portCount, row.mac, row.ip });
    printTable(table, QString());
}

void CtlPrinter::printSearchJson(const QList<SearchRow> &rows)
{
    QJsonArray devices;
    for (const SearchRow &row : rows) {
        devices.append(QJsonObject { { QStringLiteral("type"), row.devType },
            { QStringLiteral("ports"), row.portCount }, { QStringLiteral("mac"), row.mac },
            { QStringLiteral("ip"), row.ip } });
    }
    out << QJsonDocument(QJsonObject { { QStringLiteral("devices"), devices } })
               .toJson(QJsonDocument::Indented);
}

void CtlPrinter::printTable(const QList<QStringList> &table, const QString &indent)
{
    QVector<int> widths;
    for (const QStringList &row : table) {
        widths.resize(std::max(widths.size(), row.size()));
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    for (const QStringList &row : table) {
        QString line = indent;
        for (int i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        out << line << '\n';
    }
}
