#include "portoperations.h"

#include "comnumbers.h"
#include "connectionname.h"
#include "ipv4address.h"
#include "servicekeys.h"
#include "servicelimits.h"
#include "serviceparams.h"
#include "systemports.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>

namespace {

using namespace ServiceKeys;

// What a failed task says first (context "RefreshTree").
const char *const kListFailed = QT_TRANSLATE_NOOP("RefreshTree", "获取所有虚拟串口信息失败！");
const char *const kCreateFailed = QT_TRANSLATE_NOOP("RefreshTree", "创建虚拟串口失败！");
const char *const kStartFailed = QT_TRANSLATE_NOOP("RefreshTree", "添加虚拟串口失败！");
const char *const kClearFailed = QT_TRANSLATE_NOOP("RefreshTree", "清空虚拟串口失败！");
const char *const kDeleteFailed = QT_TRANSLATE_NOOP("RefreshTree", "删除虚拟串口失败！");
const char *const kRenameFailed = QT_TRANSLATE_NOOP("RefreshTree", "修改串口号失败！");
const char *const kSettingsFailed = QT_TRANSLATE_NOOP("RefreshTree", "修改串口设置失败！");

// The task's message and, on a line of its own, why: the service's reasons stay in English, as
// its log says them.
QString failureText(const char *message, const QString &reason)
{
    const QString text = QCoreApplication::translate("RefreshTree", message);
    return reason.isEmpty() ? text : text + QLatin1Char('\n') + reason;
}

// With the reason the service gave for the call that just failed.
QString serviceFailure(const char *message)
{
    return failureText(message, serviceFailureReason());
}

// Why ports cannot be made before anything is made, in the language in force; empty when they
// can.
QString newPortsRefusal(bool numbersFit, int count, bool namesFit)
{
    if (!numbersFit && count == 1)
        return QCoreApplication::translate("RefreshTree", "COM%1 以内没有空闲的串口号")
            .arg(maxComNumber);
    if (!numbersFit)
        return QCoreApplication::translate("RefreshTree", "COM%2 以内没有 %1 个连续的空闲串口号")
            .arg(count)
            .arg(maxComNumber);
    if (!namesFit)
        return QCoreApplication::translate(
            "RefreshTree", "设备型号和 MAC 地址使串口名称超过服务保存的长度（%1 个字符）")
            .arg(ServiceLimits::kMaxTextLength);
    return QString();
}

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

// Whether one of the "network.host" entries of a connection names devIp, however either is
// spelt: ports saved as "10.0.0.02" belong to 10.0.0.2.
bool hostsName(ConnectionHandle handle, const QString &devIp)
{
    QVariant hosts;
    if (!sec_GetParam(handle, kNetworkHost, &hosts))
        return false;
    const QVariantList entries = listOf(hosts);
    return std::any_of(entries.cbegin(), entries.cend(), [&devIp](const QVariant &entry) {
        const QVariant host = listOf(entry).value(0);
        return host.userType() == QMetaType::QString
            && Ipv4Address::isSameAddress(host.toString(), devIp);
    });
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
    message = serviceFailure(kCreateFailed);
    return false;
}

// What one new port is made of.
struct NewPort
{
    QString name;
    int comNumber;
    QString devIp;
    int portSeq;
    QString protocol;
};

// Parameters 1 to 8 of a new port: name, COM name, type, device address, protocol, transfer
// settings. False at the first one the service refuses.
bool writePortParams(ConnectionHandle handle, const NewPort &port)
{
    const QVariantList host { port.devIp, QString::number(deviceTcpPort(port.portSeq)) };
    if (!writeParam(handle, kName, port.name)
        || !writeParam(handle, kPortName, comNameOf(port.comNumber))
        || !writeParam(handle, kPortType, QStringLiteral("Virtual"))
        || !writeParam(handle, kNetworkHost, QVariantList { QVariant(host) })
        || !writeParam(handle, kProtocolType, port.protocol) || !writeParam(handle, kSendMode, 2)
        || !writeParam(handle, kSendModeParam, 1))
        return false;
    qDebug().noquote() << "设置发包延时成功";
    if (!writeParam(handle, kOpenCondition, 1))
        return false;
    qDebug().noquote() << "设置开关协议使能成功";
    return true;
}

// Deletes what a failed task made; a connection that stays is named on a line of its own.
void rollBack(const QList<ConnectionHandle> &handles, QString &message)
{
    for (ConnectionHandle handle : handles) {
        if (sec_DeleteConnection(handle))
            continue;
        const QString reason = serviceFailureReason();
        message += QStringLiteral("\nconnection %1 could not be deleted again").arg(handle);
        if (!reason.isEmpty())
            message += QStringLiteral(": ") + reason;
    }
}

// Parameterises and starts a created connection. One that fails on the way is deleted again:
// no port is left half made.
bool completePort(ConnectionHandle handle, const NewPort &port, QString &message)
{
    const char *failure = nullptr;
    if (!writePortParams(handle, port))
        failure = kCreateFailed;
    else if (!sec_AddConnectionService(handle))
        failure = kStartFailed;
    else
        return true;
    message = serviceFailure(failure);
    rollBack({ handle }, message);
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

    QStringList all() const { return { error, closed, open, connected, disconnected }; }

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
    const StateTexts texts;
    const quint64 generation = listingGeneration();
    if (generation == 0 || generation != lastGeneration || texts.all() != lastStateTexts) {
        lastRecords = readRecords(connectionHandles(list), texts);
        lastGeneration = generation;
        lastStateTexts = texts.all();
    }
    if (comsInfo)
        *comsInfo = lastRecords;
    emit updateComInfo(lastRecords);
    return true;
}

QList<COMS_INFO> PortOperations::readRecords(
    const QList<ConnectionHandle> &handles, const StateTexts &texts)
{
    QList<COMS_INFO> result;
    const QString portDirectory = serviceStatus().value(kPortDirectory).toString();
    ParsedNames names;
    names.reserve(handles.size());
    for (ConnectionHandle handle : handles) {
        COMS_INFO record;
        if (readRecord(handle, texts, &names, &record)) {
            record.link = portLinkPath(portDirectory, record.comName);
            result.append(record);
        }
    }
    lastNames.swap(names);
    return result;
}

void PortOperations::createDevicePorts(int portCount, const QString &devType, const QString &devIp,
    const QString &devMac, QString &message, const QString &protocol)
{
    QVariant list;
    if (!sec_GetConnectionsList(&list)) {
        message = serviceFailure(kListFailed);
    } else if (deviceHasPorts(connectionHandles(list), devIp)) {
        message = QCoreApplication::translate("RefreshTree", "当前设备已存在虚拟串口！");
        emit hideProgress();
        return;
    }

    const int base = findFreeComBase(portCount);
    const QString refusal = newPortsRefusal(base + portCount <= maxComNumber, portCount,
        connectionNamesFit(devIp, devType, portCount, devMac));
    if (!refusal.isEmpty())
        message = failureText(kCreateFailed, refusal);
    // A device whose ports cannot all be made keeps none: the table is left as it was.
    QList<ConnectionHandle> made;
    for (int k = 1; refusal.isEmpty() && k <= portCount; ++k) {
        ConnectionHandle handle;
        const NewPort port { makeConnectionName(devIp, devType, portCount, k, devMac), base + k,
            devIp, k, protocol };
        const bool created = newConnection(&handle, message);
        if (created)
            emit setProgressValue(k);
        if (!created || !completePort(handle, port, message)) {
            rollBack(made, message);
            made.clear();
            break;
        }
        made.append(handle);
    }
    if (made.size() < portCount)
        emit removeDev(devIp);
    emit hideProgress();
}

void PortOperations::createOnePort(int portCount, int portSeq, const QString &devType,
    const QString &devIp, const QString &devMac, QString &message, const QString &protocol)
{
    if (portSeq < 1 || portSeq > portCount) {
        qDebug() << "createOnePort: no port" << portSeq << "on a device of" << portCount;
        message = QCoreApplication::translate("RefreshTree", kCreateFailed);
        return;
    }
    const QString name = makeConnectionName(devIp, devType, portCount, portSeq, devMac);
    QVariant list;
    if (sec_GetConnectionsList(&list) && nameExists(connectionHandles(list), name)) {
        message = QCoreApplication::translate("RefreshTree", "当前设备端口已存在相应的虚拟串口！");
        return;
    }

    const int comNumber = comNumberFor(portSeq);
    const QString refusal
        = newPortsRefusal(comNumber > 0, 1, connectionNamesFit(devIp, devType, portCount, devMac));
    if (!refusal.isEmpty()) {
        message = failureText(kCreateFailed, refusal);
        return;
    }
    ConnectionHandle handle;
    if (newConnection(&handle, message)
        && completePort(handle, { name, comNumber, devIp, portSeq, protocol }, message))
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
            message = serviceFailure(kClearFailed);
            emit hideProgress();
        }
    }
}

void PortOperations::deleteComPort(const QString &comName, QString &message)
{
    const QList<ConnectionHandle> handles = handlesNamed(comName);
    for (ConnectionHandle handle : handles) {
        if (!sec_DeleteConnection(handle))
            message = serviceFailure(kDeleteFailed);
    }
}

void PortOperations::modifyComPort(
    const QString &comName, const QString &newComName, QString &message)
{
    const QList<ConnectionHandle> handles = handlesNamed(comName);
    for (ConnectionHandle handle : handles) {
        if (writeParam(handle, kPortName, newComName) && sec_ApplyConnection(handle))
            continue;
        message = serviceFailure(kRenameFailed);
        // The port keeps its old name; so must its parameter, or the listing would lie.
        writeParam(handle, kPortName, comName);
    }
}

void PortOperations::setPortConfig(
    const QString &comName, const PortConfig &config, QString &message)
{
    const QList<ConnectionHandle> handles = handlesNamed(comName);
    for (ConnectionHandle handle : handles) {
        if (!config.write(handle))
            message = serviceFailure(kSettingsFailed);
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
    record->line = readMapParam(handle, kLineStatus);
    record->report = PortReport::read(handle);
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
    if (wanted <= maxComNumber && !comNames.contains(comNameOf(wanted)))
        return wanted;
    return base < maxComNumber ? base + 1 : 0;
}
