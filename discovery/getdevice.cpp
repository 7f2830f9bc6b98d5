#include "getdevice.h"
#include "ui_getdevice.h"

#include "searchnetwork.h"
#include "searchprotocol.h"
#include "searchsockets.h"

#include <QCheckBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QNetworkAddressEntry>
#include <QTimer>

namespace {

const char allInterfacesKey[] = "所有网卡";
constexpr quint16 searchLocalPort = 1029;
// Characters 12 to 16 of a MAC text are its last two bytes.
constexpr int macTailAt = 12;

enum Column { ColumnCheck, ColumnType, ColumnPorts, ColumnMac, ColumnIp };

QString checkBoxName(int row)
{
    return QStringLiteral("checkbox_%1").arg(row);
}

} // namespace

GetDevice::GetDevice(QWidget *parent)
    : GetDevice(new SearchNetwork, parent)
{
}

GetDevice::GetDevice(SearchNetwork *network, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::GetDevice)
    , network(network)
    , udpSockets(new SearchSockets(this))
{
    ui->setupUi(this);
    connect(udpSockets, &SearchSockets::datagramReceived, this, &GetDevice::handleDatagram);
    initTable();
    ui->comboBox_ethernet->addItem(tr("所有网卡"), QString::fromUtf8(allInterfacesKey));
    fillInterfaceList();
    bindAllInterfaces();
    startSearchTimer();
    pushButton_search_clicked();
    connect(ui->comboBox_ethernet, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        [this](int index) {
            comboBox_ethernet_currentIndexChanged(ui->comboBox_ethernet->itemText(index));
        });
}

GetDevice::~GetDevice()
{
    clearSockets();
    delete ui;
}

void GetDevice::initTable()
{
    ui->tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->tableWidget->verticalHeader()->setHidden(true);
    const int widths[] = { 60, 100, 50, 150, 110 };
    for (int column = 0; column < 5; ++column)
        ui->tableWidget->setColumnWidth(column, widths[column]);
}

void GetDevice::fillInterfaceList()
{
    const QList<QPair<QString, QString>> interfaces = network->interfaces();
    for (const auto &interface : interfaces) {
        if (interface.first.contains(QLatin1String("Loopback"))
            || interface.first.contains(QLatin1String("isatap.")))
            continue;
        ui->comboBox_ethernet->addItem(interface.first, interface.second);
    }
}

void GetDevice::bindAllInterfaces()
{
    bindEntries(network->allAddressEntries(), searchLocalPort);
}

void GetDevice::bindInterface(const QString &name)
{
    bindEntries(network->addressEntries(name), 0);
}

void GetDevice::bindEntries(const QList<QNetworkAddressEntry> &entries, quint16 port)
{
    for (const QNetworkAddressEntry &entry : entries)
        qDebug() << "emtry.ip():" << entry.ip().toString();
    const QStringList errors = udpSockets->bind(entries, port);
    for (const QString &error : errors)
        qWarning().noquote() << "search: cannot bind" << error;
}

void GetDevice::clearSockets()
{
    if (searchTimer) {
        searchTimer->stop();
        searchTimer->deleteLater();
        searchTimer = nullptr;
    }
    // A reply still queued must not reach the new search, and the rebinding that follows may
    // need the same port.
    udpSockets->clear();
}

void GetDevice::startSearchTimer()
{
    searchTimer = new QTimer;
    searchTimer->setInterval(SearchProtocol::searchIntervalMs);
    connect(searchTimer, &QTimer::timeout, this, &GetDevice::pushButton_search_clicked);
    searchTimer->start();
}

void GetDevice::pushButton_search_clicked()
{
    qDebug() << "searching;";
    const auto &senders = udpSockets->senders();
    for (auto it = senders.cbegin(); it != senders.cend(); ++it) {
        const auto cycle = SearchProtocol::searchDatagrams(it.key());
        for (const SearchProtocol::SearchDatagram &datagram : cycle)
            network->broadcast(it.value(), datagram.data, datagram.port);
    }
}

void GetDevice::handleDatagram(const QByteArray &datagram, const QString &senderAddress)
{
    using namespace SearchProtocol;
    const SearchReply reply = decodeReply(datagram, senderAddress);
    if (!isOffered(reply))
        return;
    qDebug() << replyKindName(reply.kind);
    if (reply.kind == ReplyKind::McpAck2) {
        qDebug() << "MCP—ACK2_Devip:" << reply.ip;
        qDebug() << "end2mac:" << reply.macTail;
        completeRows(reply.devType, reply.portCount, reply.macTail, reply.ip);
    } else if (!hasRowWithMac(reply.mac)) {
        appendRow(reply.devType, reply.portCount, reply.mac, reply.ip);
    }
}

bool GetDevice::hasRowWithMac(const QString &mac) const
{
    for (int row = 0; row < ui->tableWidget->rowCount(); ++row) {
        if (ui->tableWidget->item(row, ColumnMac)->text() == mac)
            return true;
    }
    return false;
}

void GetDevice::appendRow(
    const QString &devType, const QString &portCount, const QString &mac, const QString &ip)
{
    QTableWidget *table = ui->tableWidget;
    const int row = table->rowCount();
    table->insertRow(row);

    auto *cell = new QWidget(table);
    auto *layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(Qt::AlignCenter);
    auto *checkBox = new QCheckBox(QString::number(row + 1), cell);
    checkBox->setObjectName(checkBoxName(row));
    layout->addWidget(checkBox);
    table->setCellWidget(row, ColumnCheck, cell);

    const QString texts[] = { devType, portCount, mac, ip };
    for (int column = ColumnType; column <= ColumnIp; ++column) {
        auto *item = new QTableWidgetItem(texts[column - ColumnType]);
        item->setTextAlignment(Qt::AlignCenter);
        table->setItem(row, column, item);
    }
}

void GetDevice::completeRows(
    const QString &devType, const QString &portCount, const QString &macTail, const QString &ip)
{
    QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString rowTail = table->item(row, ColumnMac)->text().mid(macTailAt).toUpper();
        if (table->item(row, ColumnIp)->text() != ip || rowTail != macTail.toUpper())
            continue;
        table->item(row, ColumnType)->setText(devType);
        table->item(row, ColumnPorts)->setText(portCount);
    }
}

// Looked up inside the row's own cell: check boxes of removed rows may still await deletion.
QCheckBox *GetDevice::rowCheckBox(int row) const
{
    QWidget *cell = ui->tableWidget->cellWidget(row, ColumnCheck);
    return cell ? cell->findChild<QCheckBox *>(checkBoxName(row)) : nullptr;
}

QStringList GetDevice::rowInfos(int row) const
{
    const QTableWidget *table = ui->tableWidget;
    return { table->item(row, ColumnType)->text(),
        table->item(row, ColumnPorts)->text().section(QLatin1Char(' '), 0, 0),
        table->item(row, ColumnMac)->text(), table->item(row, ColumnIp)->text() };
}

void GetDevice::on_checkBox_select_clicked()
{
    const bool checked = ui->checkBox_select->isChecked();
    for (int row = 0; row < ui->tableWidget->rowCount(); ++row) {
        if (QCheckBox *checkBox = rowCheckBox(row))
            checkBox->setChecked(checked);
    }
}

void GetDevice::on_pushButton_sure_clicked()
{
    for (int row = 0; row < ui->tableWidget->rowCount(); ++row) {
        const QCheckBox *checkBox = rowCheckBox(row);
        if (checkBox && checkBox->isChecked())
            emit getDevInfo(rowInfos(row));
    }
    close();
}

void GetDevice::on_pushButton_cancel_clicked()
{
    close();
}

void GetDevice::comboBox_ethernet_currentIndexChanged(QString arg1)
{
    Q_UNUSED(arg1)
    clearSockets();
    for (int row = ui->tableWidget->rowCount() - 1; row >= 0; --row)
        ui->tableWidget->removeRow(row);
    const QString choice = ui->comboBox_ethernet->currentData().toString();
    if (choice == QString::fromUtf8(allInterfacesKey))
        bindAllInterfaces();
    else
        bindInterface(choice);
    startSearchTimer();
    pushButton_search_clicked();
}
