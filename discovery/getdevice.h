#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class GetDevice;
}
class QCheckBox;
class QNetworkAddressEntry;
class QTimer;
class SearchNetwork;
class SearchSockets;

// The search dialog: broadcasts the device search on the local networks from the moment it opens
// and every 5 s, lists each device found once, and hands every ticked device to its opener.
class GetDevice : public QDialog
{
    Q_OBJECT

public:
    explicit GetDevice(QWidget *parent = nullptr);
    // network replaces the machine's own interfaces and broadcasts (tests); the dialog owns it.
    GetDevice(SearchNetwork *network, QWidget *parent);
    ~GetDevice() override;

    void bindAllInterfaces();
    void bindInterface(const QString &name);
    void clearSockets();

signals:
    // [type, port count, MAC text, IP text] of one ticked device.
    void getDevInfo(QStringList infos);

public slots:
    // Turns one received datagram into a new row or completes rows; other lengths are dropped.
    void handleDatagram(const QByteArray &datagram, const QString &senderAddress);

private slots:
    void pushButton_search_clicked();
    void on_checkBox_select_clicked();
    void on_pushButton_sure_clicked();
    void on_pushButton_cancel_clicked();
    void comboBox_ethernet_currentIndexChanged(QString arg1);

private:
    void initTable();
    void fillInterfaceList();
    void startSearchTimer();
    void bindEntries(const QList<QNetworkAddressEntry> &entries, quint16 port);
    bool hasRowWithMac(const QString &mac) const;
    void appendRow(
        const QString &devType, const QString &portCount, const QString &mac, const QString &ip);
    void completeRows(const QString &devType, const QString &portCount, const QString &macTail,
        const QString &ip);
    QCheckBox *rowCheckBox(int row) const;
    QStringList rowInfos(int row) const;

    Ui::GetDevice *ui;
    std::unique_ptr<SearchNetwork> network;
    SearchSockets *udpSockets;
    QTimer *searchTimer = nullptr;
};
