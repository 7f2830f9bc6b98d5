#include "portoperations.h"

#include "connectionname.h"
#include "servicekeys.h"
#include "serviceparams.h"
#include "systemports.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>

namespace {

using namespace ServiceKeys;

QString comNameOf(int number)
{
    return QStringLiteral("COM%1").arg(number);
}

int comNumberOf(const QString &comName)
{
    return comName.mid(3).toInt();
}

QVariantList listOf(const QVariant &value)
{
    return value.userType() == QMetaType::QVariantList ? value.toList() : QVariantList();
}

bool isText(const QVariant &value, const QString &text)
{
    return value.userType() == QMetaType::QString && value.toString() == text;
}

// Whether one of the "network.host" entries of a connection names devIp.
bool hostsName(ConnectionHandle handle, const QString &devIp)
{
    QVariant hosts;
    if (!sec_GetParam(handle, kNetworkHost, &hosts))
        return false;
    const QVariantList entries = listOf(hosts);
    return std::any_of(entries.cbegin(), entries.cend(),
        [&devIp](const QVariant &entry) { return isText(listOf(entry).value(0), devIp); });
}

bool deviceHasPorts(const QList<ConnectionHandle> &handles, const QString &devIp)
{
    return std::any_of(handles.cbegin(), handles.cend(),
        [&devIp](ConnectionHandle handle) { return hostsName(handle, devIp); });
}

bool nameExists(const QList<ConnectionHandle> &handles, const QString &name)
{
    return std::any_of(handles.cbegin(), handles.cend(), [&name](ConnectionHandle handle) {
        QString existing;
        return readTextParam(handle, kName, &existing) && existing == name;
    });
}

bool newConnection(ConnectionHandle *handle, QString &message)
{
    *handle = -1;
    if (sec_CreateConnection(1, handle))
        return true;
    message = QCoreApplication::translate("RefreshTree", "创建虚拟串口失败！");
    return false;
}

// Parameters 2 to 8 of a new port: COM name, type, device address, protocol, transfer settings.
void writePortParams(ConnectionHandle handle, int comNumber, const QString &devIp, int portSeq,
    const QString &protocol)
{
    const QVariantList host { devIp, QString::number(deviceTcpPort(portSeq)) };
    writeParam(handle, kPortName, comNameOf(comNumber));
    writeParam(handle, kPortType, QStringLiteral("Virtual"));
    writeParam(handle, kNetworkHost, QVariantList { QVariant(host) });
    writeParam(handle, kProtocolType, protocol);
    if (writeParam(handle, kSendMode, 2) && writeParam(handle, kSendModeParam, 1))
        qDebug().noquote() << "设置发包延时成功";
    if (writeParam(handle, kOpenCondition, 1))
        qDebug().noquote() << "设置开关协议使能成功";
}

// A connection that cannot be started is deleted again.
bool startConnection(ConnectionHandle handle, QString &message)
{
    if (sec_AddConnectionService(handle))
        return true;
    message = QCoreApplication::translate("RefreshTree", "添加虚拟串口失败！");
    sec_DeleteConnection(handle);
    return false;
}

// The connections whose COM name is comName, in list order.
QList<ConnectionHandle> handlesNamed(const QString &comName)
{
    QList<ConnectionHandle> matching;
    QVariant list;
    if (!sec_GetConnectionsList(&list))
        return matching;
    const QList<ConnectionHandle> handles = connectionHandles(list);
    for (ConnectionHandle handle : handles) {
        QString name;
        if (readTextParam(handle, kPortName, &name) && name == comName)
            matching.append(handle);
    }
    return matching;
}

} // namespace

// The state texts in the language in force, looked up once per listing rather than per port.
struct PortOperations::StateTexts
{
    QString error = QCoreApplication::translate("RefreshTree", "串口错误");
    QString closed = QCoreApplication::translate("RefreshTree", "串口关闭");
    QString open = QCoreApplication::translate("RefreshTree", "串口打开");
    QString connected = QCoreApplication::translate("RefreshTree", "已连接");
    QString disconnected = QCoreApplication::translate("RefreshTree", "未连接");

    // Open port: connected when at least one remote host says "1"; without a host list, just
    // open.
    QString openText(ConnectionHandle handle) const
    {
        QVariant hosts;
        if (!sec_GetParam(handle, kRemoteHost, &hosts)
            || hosts.userType() != QMetaType::QVariantList)
            return open;
        const QVariantList entries = hosts.toList();
        const bool up = std::any_of(entries.cbegin(), entries.cend(),
            [](const QVariant &e) { return isText(listOf(e).value(2), QStringLiteral("1")); });
        return up ? connected : disconnected;
    }

    QString text(ConnectionHandle handle) const
    {
        QVariant value;
        bool ok = false;
        const int state = sec_GetParam(handle, kPortState, &value) ? value.toInt(&ok) : -1;
        if (!ok)
            return QString();
        switch (PortState(state)) {
        case PortState::Error:
            return error;
        case PortState::Closed:
        case PortState::NotStarted:
            return closed;
        case PortState::Open:
            return openText(handle);
        }
        return QString();
    }
};

PortOperations::PortOperations(QObject *parent)
    : QObject(parent)
    , portNames(systemSerialPortNames)
{
}

void PortOperations::setPortNameSource(PortNameSource source)
{
    portNames = std::move(source);
}

bool PortOperations::refreshComInfo(QList<COMS_INFO> *comsInfo)
{
    QVariant list;
    if (!sec_GetConnectionsList(&list))
        return false;
    QList<COMS_INFO> result;
    const QList<ConnectionHandle> handles = connectionHandles(list);
    const StateTexts texts;
    ParsedNames names;
    names.reserve(handles.size());
    for (ConnectionHandle handle : handles) {
        COMS_INFO record;
        if (readRecord(handle, texts, &names, &record))
            result.append(record);
    }
    lastNames.swap(names);
    if (comsInfo)
        *comsInfo = result;
    emit updateComInfo(result);
    return true;
}

void PortOperations::createDevicePorts(int portCount, const QString &devType, const QString &devIp,
    const QString &devMac, QString &message, const QString &protocol)
{
    QVariant list;
    if (!sec_GetConnectionsList(&list)) {
        message = QCoreApplication::translate("RefreshTree", "获取所有虚拟串口信息失败！");
    } else if (deviceHasPorts(connectionHandles(list), devIp)) {
        message = QCoreApplication::translate("RefreshTree", "当前设备已存在虚拟串口！");
        emit hideProgress();
        return;
    }

    const int base = findFreeComBase(portCount);
    for (int k = 1; k <= portCount; ++k) {
        ConnectionHandle handle;
        bool created = newConnection(&handle, message);
        if (created) {
            emit setProgressValue(k);
            writeParam(handle, kName, makeConnectionName(devIp, devType, portCount, k, devMac));
            writePortParams(handle, base + k, devIp, k, protocol);
            created = startConnection(handle, message);
        }
        if (!created) {
            emit removeDev(devIp);
            break;
        }
    }
    emit hideProgress();
}

void PortOperations::createOnePort(int portCount, int portSeq, const QString &devType,
    const QString &devIp, const QString &devMac, QString &message, const QString &protocol)
{
    if (portSeq < 1 || portSeq > portCount) {
        qDebug() << "createOnePort: no port" << portSeq << "on a device of" << portCount;
        message = QCoreApplication::translate("RefreshTree", "创建虚拟串口失败！");
        return;
    }
    const QString name = makeConnectionName(devIp, devType, portCount, portSeq, devMac);
    QVariant list;
    if (sec_GetConnectionsList(&list) && nameExists(connectionHandles(list), name)) {
        message = QCoreApplication::translate("RefreshTree", "当前设备端口已存在相应的虚拟串口！");
        return;
    }

    ConnectionHandle handle;
    if (!newConnection(&handle, message))
        return;
    writeParam(handle, kName, name);
    writePortParams(handle, comNumberFor(portSeq), devIp, portSeq, protocol);
    if (startConnection(handle, message))
        qDebug().noquote() << "当前虚拟串口创建成功！";
}

void PortOperations::clearDevicePorts(const QString &devIp, QString &message)
{
    QVariant list;
    if (!sec_GetConnectionsList(&list))
        return;
    int deleted = 0;
    const QList<ConnectionHandle> handles = connectionHandles(list);
    for (ConnectionHandle handle : handles) {
        QString name;
        COMS_INFO record;
        if (!readTextParam(handle, kName, &name) || !parseConnectionName(name, record)
            || record.devIp != devIp)
            continue;
        if (sec_DeleteConnection(handle)) {
            ++deleted;
            qDebug() << "deleteCount:" << deleted;
            emit setProgressValue(deleted);
        } else {
            message = QCoreApplication::translate("RefreshTree", "清空虚拟串口失败！");
            emit hideProgress();
        }
    }
}

void PortOperations::deleteComPort(const QString &comName, QString &message)
{
    const QList<ConnectionHandle> handles = handlesNamed(comName);
    for (ConnectionHandle handle : handles) {
        if (!sec_DeleteConnection(handle))
            message = QCoreApplication::translate("RefreshTree", "删除虚拟串口失败！");
    }
}

void PortOperations::modifyComPort(
    const QString &comName, const QString &newComName, QString &message)
{
    const QList<ConnectionHandle> handles = handlesNamed(comName);
    for (ConnectionHandle handle : handles) {
        if (writeParam(handle, kPortName, newComName) && sec_ApplyConnection(handle))
            continue;
        // The port keeps its old name; so must its parameter, or the listing would lie.
        writeParam(handle, kPortName, comName);
        message = QCoreApplication::translate("RefreshTree", "修改串口号失败！");
    }
}

void PortOperations::setPortConfig(
    const QString &comName, const PortConfig &config, QString &message)
{
    const QList<ConnectionHandle> handles = handlesNamed(comName);
    for (ConnectionHandle handle : handles) {
        if (!config.write(handle))
            message = QCoreApplication::translate("RefreshTree", "修改串口设置失败！");
    }
}

bool PortOperations::readRecord(
    ConnectionHandle handle, const StateTexts &texts, ParsedNames *parsed, COMS_INFO *record) const
{
    QString name;
    if (readTextParam(handle, kName, &name)) {
        const auto known = lastNames.constFind(name);
        ParsedName fields;
        if (known != lastNames.cend())
            fields = known.value();
        else
            fields.ours = parseConnectionName(name, fields.device);
        parsed->insert(name, fields);
        if (!fields.ours)
            return false;
        *record = fields.device;
    }
    readTextParam(handle, kPortName, &record->comName);
    record->comState = texts.text(handle);
    // Served from the listing just made: no further round trip.
    record->config = PortConfig::read(handle);
    QVariant line;
    if (sec_GetParam(handle, kLineStatus, &line))
        record->line = line.toMap();
    return true;
}

int PortOperations::findFreeComBase(int n)
{
    refreshSystemComNames();
    if (comNames.isEmpty() || comNumberOf(comNames.first()) > n)
        return 0;
    for (int i = 0; i + 1 < comNames.size(); ++i) {
        const int number = comNumberOf(comNames.at(i));
        if (comNumberOf(comNames.at(i + 1)) - number - 1 >= n)
            return number;
    }
    return comNumberOf(comNames.last());
}

void PortOperations::refreshSystemComNames()
{
    QStringList names = portNames();
    names.erase(std::remove_if(names.begin(), names.end(),
                    [](const QString &name) { return !name.startsWith(QLatin1String("COM")); }),
        names.end());
    std::sort(names.begin(), names.end(), comNameLess);
    comNames = names;
}

bool PortOperations::comNameLess(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    const auto digits = [](const QString &name) {
        QString result;
        for (const QChar c : name) {
            if (c.isDigit())
                result.append(c);
        }
        return result.toULongLong();
    };
    return digits(a) < digits(b);
}

int PortOperations::comNumberFor(int portSeq)
{
    const int base = findFreeComBase(1);
    const int wanted = base + portSeq;
    return comNames.contains(comNameOf(wanted)) ? base + 1 : wanted;
}
