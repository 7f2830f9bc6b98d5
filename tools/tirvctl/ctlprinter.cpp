#include "ctlprinter.h"

#include "portlisting.h"
#include "searchresults.h"
#include "servicekeys.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

// For scripts: ISO 8601 in UTC, to the millisecond; empty for none.
QString isoTime(qint64 msecsSinceEpoch)
{
    if (msecsSinceEpoch == 0)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs);
}

// Columns a terminal gives the text: East Asian wide characters, such as the Chinese labels,
// take two.
int displayWidth(const QString &text)
{
    int width = 0;
    for (const uint c : text.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF)
            || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF)
            || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
            || (c >= 0xFFE0 && c <= 0xFFE6) || c >= 0x20000;
        width += wide ? 2 : 1;
    }
    return width;
}

} // namespace

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
    if (listing.devices().isEmpty())
        out << tr("No virtual ports.") << '\n';
    for (const ListedDevice &device : listing.devices()) {
        out << tr("Device %1  type %2  ports %3  MAC %4")
                   .arg(device.ip, device.type, QString::number(device.portCount), device.mac)
            << '\n';
        QList<QStringList> table;
        for (const ListedPort &port : device.ports)
            table.append(portRow(port));
        printTable(table, QStringLiteral("  "));
    }
    if (!listing.saveError().isEmpty())
        out << tr("Warning: %1 (%2)")
                   .arg(QCoreApplication::translate("MainWindow", "更改未能保存"),
                       listing.saveError())
            << '\n';
}

void CtlPrinter::printListingJson(const PortListing &listing)
{
    QJsonArray devices;
    for (const ListedDevice &device : listing.devices()) {
        QJsonArray ports;
        for (const ListedPort &port : device.ports)
            ports.append(portObject(port));
        devices.append(QJsonObject {
            { QStringLiteral("ip"), device.ip },
            { QStringLiteral("type"), device.type },
            { QStringLiteral("portCount"), device.portCount },
            { QStringLiteral("mac"), device.mac },
            { QStringLiteral("ports"), ports },
        });
    }
    const QJsonObject root { { QStringLiteral("portDirectory"), listing.portDirectory() },
        { QStringLiteral("changesSaved"), listing.saveError().isEmpty() },
        { QStringLiteral("saveError"), listing.saveError() },
        { QStringLiteral("devices"), devices } };
    out << QJsonDocument(root).toJson(QJsonDocument::Indented);
}

void CtlPrinter::printPort(const ListedPort &port)
{
    if (json) {
        QJsonObject object = portObject(port);
        const PortConfig &config = port.config;
        object.insert(QStringLiteral("protocol"), config.protocol);
        object.insert(QStringLiteral("dataBits"), config.dataBits);
        object.insert(QStringLiteral("parity"), config.parity);
        object.insert(QStringLiteral("sendMode"), config.sendMode);
        object.insert(QStringLiteral("sendDelay"), config.sendDelay);
        object.insert(QStringLiteral("connectOnOpen"), config.connectOnOpen);
        if (config.isRfc2217() || !port.line.isEmpty())
            object.insert(QStringLiteral("line"), QJsonObject::fromVariantMap(port.line));
        out << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        printPortText(port);
    }
    out.flush();
}

void CtlPrinter::printPortText(const ListedPort &port)
{
    printTable({ portRow(port) }, QString());
    const PortConfig &config = port.config;
    const QString on = tr("on"), off = tr("off");
    QList<QStringList> table {
        { tr("protocol"), config.protocol },
        { tr("data bits"), QString::number(config.dataBits) },
        { tr("parity"), config.parity },
        { tr("send mode"), QString::number(config.sendMode) },
        { tr("send delay"), tr("%1 ms").arg(config.sendDelay) },
        { tr("connect on open"), config.connectOnOpen ? on : off },
    };
    const PortReport &report = port.report;
    const QString lastConnect = PortReport::timeText(report.lastConnect);
    table << QStringList { tr("sent"), tr("%1 bytes").arg(report.toDevice) }
          << QStringList { tr("received"), tr("%1 bytes").arg(report.fromDevice) }
          << QStringList { tr("reconnects"), QString::number(report.reconnects) }
          << QStringList { tr("dropped while away"), tr("%1 bytes").arg(report.dropped) }
          << QStringList { tr("last connect"), lastConnect.isEmpty() ? tr("never") : lastConnect };
    table << lineRows(port);
    printTable(table, QStringLiteral("  "));
}

QList<QStringList> CtlPrinter::lineRows(const ListedPort &port) const
{
    if (port.line.isEmpty())
        return {};
    const QString on = tr("on"), off = tr("off");
    const QVariantMap modem = port.line.value(ServiceKeys::kLineModem).toMap();
    QStringList lines;
    for (const char *name : { "dtr", "rts", "cts", "dsr", "cd", "ri" }) {
        const QVariant state = modem.value(QLatin1String(name));
        lines << QStringLiteral("%1 %2").arg(QString::fromLatin1(name).toUpper(),
            !state.isValid()    ? QStringLiteral("?")
                : state.toInt() ? on
                                : off);
    }
    const QVariantMap requested = port.line.value(ServiceKeys::kLineRequested).toMap();
    if (!port.config.isRfc2217())
        return { { tr("line"), tr("RAW: kept, not sent to the device") },
            { tr("requested"),
                tr("%1 data bits, parity %2")
                    .arg(
                        requested.value("data").toString(), requested.value("parity").toString()) },
            { tr("modem lines"), lines.join(QStringLiteral("  ")) } };
    const auto text = [&](const QString &key) {
        const QString value = port.line.value(key).toMap().value("text").toString();
        return value.isEmpty() ? QStringLiteral("-") : value;
    };
    return { { tr("line"), supportText(port.line.value(ServiceKeys::kLineSupport).toString()) },
        { tr("requested"), text(ServiceKeys::kLineRequested) },
        { tr("applied"), text(ServiceKeys::kLineApplied) },
        { tr("modem lines"), lines.join(QStringLiteral("  ")) } };
}

QStringList CtlPrinter::portRow(const ListedPort &port) const
{
    const QString target = port.target.isEmpty() ? QStringLiteral("-") : port.target;
    QStringList row { port.comName, tr("port %1").arg(port.devicePort), target, port.state,
        port.link };
    if (!port.report.isFine())
        row << port.report.reasonText();
    return row;
}

QString CtlPrinter::supportText(const QString &support)
{
    if (support == ServiceKeys::kSupportOffline)
        return tr("not connected");
    if (support == ServiceKeys::kSupportNegotiating)
        return tr("negotiating");
    if (support == ServiceKeys::kSupportYes)
        return tr("supported");
    if (support == ServiceKeys::kSupportNo)
        return tr("settings not supported");
    return support;
}

QJsonObject CtlPrinter::portObject(const ListedPort &port) const
{
    return {
        { QStringLiteral("comName"), port.comName },
        { QStringLiteral("link"), port.link },
        { QStringLiteral("devicePort"), port.devicePort },
        { QStringLiteral("tcpHost"), port.tcpHost },
        { QStringLiteral("tcpPort"), port.tcpPort },
        { QStringLiteral("state"), port.state },
        { QStringLiteral("stateKey"), port.stateKey },
        { QStringLiteral("reason"), reasonObject(port.report) },
        { QStringLiteral("counters"), countersObject(port.report) },
    };
}

QJsonObject CtlPrinter::reasonObject(const PortReport &report)
{
    return {
        { QStringLiteral("code"), report.trouble },
        { QStringLiteral("text"), report.detail },
        { QStringLiteral("since"), isoTime(report.since) },
        { QStringLiteral("retry"), isoTime(report.retry) },
    };
}

QJsonObject CtlPrinter::countersObject(const PortReport &report)
{
    return {
        { QStringLiteral("toDevice"), report.toDevice },
        { QStringLiteral("fromDevice"), report.fromDevice },
        { QStringLiteral("reconnects"), report.reconnects },
        { QStringLiteral("dropped"), report.dropped },
        { QStringLiteral("lastConnect"), isoTime(report.lastConnect) },
    };
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
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    for (const QStringList &row : table) {
        QString line = indent;
        for (int i = 0; i + 1 < row.size(); ++i)
            line += row[i] + QString(widths[i] + 2 - displayWidth(row[i]), QLatin1Char(' '));
        if (!row.isEmpty())
            line += row.last();
        out << line << '\n';
    }
}
