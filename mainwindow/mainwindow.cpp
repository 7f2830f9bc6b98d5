#include "mainwindow.h"

#include "abouthelp.h"
#include "adddevice.h"
#include "appointvcom.h"
#include "getdevice.h"
#include "modifycom.h"
#include "portsettings.h"
#include "progressbar.h"
#include "refreshtree.h"
#include "servicekeys.h"
#include "systemports.h"
#include "systemsettings.h"
#include "ui_mainwindow.h"

#include <QClipboard>
#include <QDebug>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QUrl>

namespace {

enum DeviceColumn { DevNumber, DevType, DevPorts, DevMac, DevIp };
enum ComColumn { ComType, ComIp, ComPortSeq, ComName, ComState };

const Qt::WindowFlags dialogFlags = Qt::Dialog | Qt::WindowCloseButtonHint;

int itemLevel(const QModelIndex &index)
{
    int level = 1;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        ++level;
    return level;
}

QString cellText(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

// Rows are dropped from the top and added at the bottom, so the rows that stay keep their
// selection by position.
void adjustRowCount(QTableWidget *table, int rows)
{
    const int surplus = table->rowCount() - rows;
    if (surplus > 0)
        table->model()->removeRows(0, surplus);
    else if (surplus < 0)
        table->setRowCount(rows);
}

void setCellText(QTableWidget *table, int row, int column, const QString &text)
{
    QTableWidgetItem *item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem(text);
        item->setTextAlignment(Qt::AlignCenter);
        table->setItem(row, column, item);
    } else if (item->text() != text) {
        item->setText(text);
    }
}

void adjustChildCount(QStandardItem *parent, int rows)
{
    const int surplus = parent->rowCount() - rows;
    if (surplus > 0) {
        parent->removeRows(0, surplus);
    } else if (surplus < 0) {
        QList<QStandardItem *> added;
        for (int i = surplus; i < 0; ++i)
            added << new QStandardItem;
        parent->appendRows(added);
    }
}

void setItemLook(
    QStandardItem *item, const QIcon &icon, const QString &text, const QString &toolTip = {})
{
    if (item->icon().cacheKey() != icon.cacheKey())
        item->setIcon(icon);
    if (item->text() != text)
        item->setText(text);
    if (item->toolTip() != toolTip)
        item->setToolTip(toolTip);
}

void setRowToolTip(QTableWidget *table, int row, const QString &toolTip)
{
    for (int column = 0; column < table->columnCount(); ++column) {
        QTableWidgetItem *item = table->item(row, column);
        if (item && item->toolTip() != toolTip)
            item->setToolTip(toolTip);
    }
}

void setupTable(QTableWidget *table, const QVector<int> &widths)
{
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    for (int column = 0; column < widths.size(); ++column)
        table->setColumnWidth(column, widths.at(column));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , worker(nullptr)
    , treeModel(new QStandardItemModel(this))
    , settingsDialog(nullptr)
    , deviceIcon(QStringLiteral(":/icons/device"))
    , plainPortIcon(QStringLiteral(":/icons/serial"))
    , stateIcons {
        { QT_TRANSLATE_NOOP("RefreshTree", "串口关闭"),
            QIcon(QStringLiteral(":/icons/serial_gray")) },
        { QT_TRANSLATE_NOOP("RefreshTree", "已连接"),
            QIcon(QStringLiteral(":/icons/serial_green")) },
        { QT_TRANSLATE_NOOP("RefreshTree", "未连接"),
            QIcon(QStringLiteral(":/icons/serial_warn")) },
        { QT_TRANSLATE_NOOP("RefreshTree", "串口错误"),
            QIcon(QStringLiteral(":/icons/serial_error")) },
    }
{
    ui->setupUi(this);
    setupSplitter();
    setupTreeView();
    setupTables();
    setupWorker();
    setupSettings();
}

// The window owns its worker: deleting it ends the thread before the service goes away.
MainWindow::~MainWindow()
{
    delete worker;
    delete ui;
}

void MainWindow::setupSplitter()
{
    ui->splitter->setStyleSheet(QStringLiteral("QSplitter::handle{background:transparent;}"));
    ui->splitter->setStretchFactor(0, 2);
    ui->splitter->setStretchFactor(1, 6);
}

void MainWindow::setupTreeView()
{
    QTreeView *tree = ui->treeView;
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setTextElideMode(Qt::ElideNone);
    tree->setFocusPolicy(Qt::NoFocus);
    tree->setIconSize(QSize(20, 20));

    treeModel->setColumnCount(1);
    auto *header = new QStandardItem(QIcon(QStringLiteral(":/icons/devList1")), tr("设备列表"));
    QFont headerFont = header->font();
    headerFont.setPointSize(11);
    header->setFont(headerFont);
    treeModel->setHorizontalHeaderItem(0, header);
    tree->setModel(treeModel);

    tree->setHeaderHidden(false);
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->header()->setMinimumSectionSize(25);
    tree->header()->setHighlightSections(false);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->setItemDelegate(new QStyledItemDelegate(tree));
    tree->expandAll();
}

void MainWindow::setupTables()
{
    setupTable(ui->tableWidget_dev, { 80, 100, 50, 160, 160 });
    setupTable(ui->tableWidget, { 80, 150, 80, 90, 100 });
}

void MainWindow::setupWorker()
{
    worker = new RefreshTree;
    connect(worker, &RefreshTree::updateComInfo, this, &MainWindow::handerAnalysis);
    connect(worker, &RefreshTree::msgInfo, this, &MainWindow::showMessage);
    connect(worker, &RefreshTree::removeDev, this, &MainWindow::removeDevice);
    connect(worker, &RefreshTree::taskStarted, this, [this](quint64 id) { runningTask = id; });
    connect(worker, &RefreshTree::taskFinished, this, &MainWindow::onTaskFinished);
    connect(worker, &RefreshTree::setProgressValue, this, &MainWindow::forwardProgress);
    connect(worker, &RefreshTree::hideProgress, this, &MainWindow::onHideProgress);
    connect(worker, &RefreshTree::saveErrorChanged, this, &MainWindow::showSaveError);
    showSaveError(QString());
    // Last: the thread's first message (an unreachable service) must find its receivers.
    worker->start();
}

// Announces the autorun state and installs the catalogue of the system's language, so the
// status bar and the texts are set when the constructor returns.
void MainWindow::setupSettings()
{
    settingsDialog = new SystemSettings(this);
    settingsDialog->setWindowTitle(tr("系统设置"));
    settingsDialog->setWindowFlags(dialogFlags);
    settingsDialog->setModal(true);
    connect(
        settingsDialog, &SystemSettings::changeAutoRunStatus, this, &MainWindow::setAutoRunIcon);
    settingsDialog->readAutoRunStatus();
    connect(
        settingsDialog, &SystemSettings::changeLanguageStatus, this, &MainWindow::setLanguageIcon);
    connect(settingsDialog, &SystemSettings::retranslateUI, this, &MainWindow::retranslate);
    settingsDialog->selectSystemLanguage();
}

// ---- Rebuild ----------------------------------------------------------------------------

void MainWindow::handerAnalysis(QList<COMS_INFO> comsInfo)
{
    const std::optional<QString> deviceKey = currentDeviceKey();
    if (!viewsStale && deviceKey == lastDeviceKey && comsInfo == lastList)
        return;

    DeviceMap devices;
    for (const COMS_INFO &record : qAsConst(comsInfo))
        devices[record.devIp].append(record);

    fillDeviceTable(devices);
    fillTree(devices);
    // Filling the tree may move the current item, so the key is read again.
    const std::optional<QString> shownKey = currentDeviceKey();
    fillComTable(shownKey ? devices.value(*shownKey) : comsInfo);

    lastList = comsInfo;
    lastDeviceKey = shownKey;
    viewsStale = false;
}

std::optional<QString> MainWindow::currentDeviceKey() const
{
    const QModelIndex index = ui->treeView->currentIndex();
    if (index.row() < 0)
        return std::nullopt;
    return itemLevel(index) == 1 ? index.data().toString() : index.parent().data().toString();
}

void MainWindow::fillDeviceTable(const DeviceMap &devices)
{
    QTableWidget *table = ui->tableWidget_dev;
    adjustRowCount(table, devices.size());
    int row = 0;
    for (auto it = devices.cbegin(); it != devices.cend(); ++it, ++row) {
        const COMS_INFO &first = it->first();
        setCellText(table, row, DevNumber, QString::number(row + 1));
        setCellText(table, row, DevType, first.devType);
        setCellText(table, row, DevPorts, QString::number(first.portCount));
        setCellText(table, row, DevMac, first.devMac);
        setCellText(table, row, DevIp, first.devIp);
    }
}

void MainWindow::fillTree(const DeviceMap &devices)
{
    adjustChildCount(treeModel->invisibleRootItem(), devices.size());
    const QVector<QPair<QString, QIcon>> iconsByState = translatedStateIcons();
    int row = 0;
    for (auto it = devices.cbegin(); it != devices.cend(); ++it, ++row) {
        QStandardItem *deviceItem = treeModel->item(row);
        setItemLook(deviceItem, deviceIcon, it.key());
        fillPortItems(deviceItem, it.value(), iconsByState);
    }
}

void MainWindow::fillPortItems(QStandardItem *deviceItem, const QList<COMS_INFO> &ports,
    const QVector<QPair<QString, QIcon>> &iconsByState)
{
    adjustChildCount(deviceItem, ports.size());
    for (int j = 0; j < ports.size(); ++j) {
        const COMS_INFO &port = ports.at(j);
        const QIcon *icon = &plainPortIcon;
        for (const auto &stateIcon : iconsByState) {
            if (port.comState == stateIcon.first) {
                icon = &stateIcon.second;
                break;
            }
        }
        setItemLook(deviceItem->child(j), *icon, port.comName, portToolTip(port));
    }
}

// The worker translates the state texts at every listing; they are compared in the same
// language, whichever catalogue is in force.
QVector<QPair<QString, QIcon>> MainWindow::translatedStateIcons() const
{
    QVector<QPair<QString, QIcon>> translated;
    translated.reserve(stateIcons.size());
    for (const auto &stateIcon : stateIcons)
        translated.append(
            { QCoreApplication::translate("RefreshTree", stateIcon.first), stateIcon.second });
    return translated;
}

void MainWindow::fillComTable(const QList<COMS_INFO> &ports)
{
    QTableWidget *table = ui->tableWidget;
    adjustRowCount(table, ports.size());
    for (int row = 0; row < ports.size(); ++row) {
        const COMS_INFO &port = ports.at(row);
        setCellText(table, row, ComType, port.devType);
        setCellText(table, row, ComIp, port.devIp);
        setCellText(table, row, ComPortSeq, port.portSeq);
        setCellText(table, row, ComName, port.comName);
        setCellText(table, row, ComState, port.comState);
        setRowToolTip(table, row, portToolTip(port));
    }
}

// Where the port is, where it leads, its state and why, its protocol (for RFC 2217 with what
// the device's line took) and what it carried.
QString MainWindow::portToolTip(const COMS_INFO &port) const
{
    QStringList lines;
    if (!port.link.isEmpty())
        lines << tr("链接：%1").arg(port.link);
    if (!port.deviceTarget().isEmpty())
        lines << tr("设备：%1").arg(port.deviceTarget());
    if (!port.comState.isEmpty())
        lines << tr("状态：%1").arg(port.comState);
    if (!port.report.isFine())
        lines << tr("原因：%1").arg(port.report.reasonText());
    lines << protocolLines(port);
    const PortReport &report = port.report;
    const QString lastConnect = PortReport::timeText(report.lastConnect);
    lines << tr("已发送 %1 字节，已接收 %2 字节").arg(report.toDevice).arg(report.fromDevice)
          << tr("重连 %1 次，离线时丢弃 %2 字节").arg(report.reconnects).arg(report.dropped)
          << (lastConnect.isEmpty() ? tr("从未连接") : tr("上次连接：%1").arg(lastConnect));
    return lines.join(QLatin1Char('\n'));
}

QStringList MainWindow::protocolLines(const COMS_INFO &port) const
{
    if (!port.config.isRfc2217())
        return { tr("协议：%1").arg(ServiceKeys::kProtocolRaw) };
    QString line;
    const QString applied = port.line.value(ServiceKeys::kLineApplied)
                                .toMap()
                                .value(QStringLiteral("text"))
                                .toString();
    if (port.line.value(ServiceKeys::kLineSupport) == ServiceKeys::kSupportNo)
        line = tr("设备不支持串口设置");
    else if (!applied.isEmpty())
        line = tr("设备线路：%1").arg(applied);
    else
        line = tr("设备线路：未知");
    return { tr("协议：%1").arg(QStringLiteral("RFC 2217")), line };
}

void MainWindow::removeDevice(const QString &ip)
{
    QTableWidget *table = ui->tableWidget_dev;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (cellText(table, row, DevIp) == ip) {
            table->removeRow(row);
            treeModel->removeRow(row);
            viewsStale = true;
            return;
        }
    }
}

void MainWindow::showMessage(const QString &text)
{
    QMessageBox::about(this, tr("提示"), text);
}

// The form's text says that changes are not being saved; its tooltip, the service's reason.
void MainWindow::showSaveError(const QString &error)
{
    ui->label_saveError->setToolTip(error);
    ui->label_saveError->setVisible(!error.isEmpty());
}

void MainWindow::setLanguageIcon(bool chinese)
{
    ui->label_language->setPixmap(QPixmap(
        chinese ? QStringLiteral(":/icons/Chinese.png") : QStringLiteral(":/icons/English.png")));
    ui->label_language->setToolTip(chinese ? QStringLiteral("中文") : QStringLiteral("English"));
}

void MainWindow::setAutoRunIcon(bool on)
{
    ui->label_autoRun->setPixmap(QPixmap(
        on ? QStringLiteral(":/icons/autorun1.png") : QStringLiteral(":/icons/autorun0.png")));
    ui->label_autoRun->setToolTip(on ? tr("开机自启动打开") : tr("开机自启动关闭"));
}

void MainWindow::retranslate()
{
    ui->retranslateUi(this);
    treeModel->horizontalHeaderItem(0)->setText(tr("设备列表"));
    settingsDialog->readAutoRunStatus();
    viewsStale = true;
    emit retranslateUI();
}

// ---- Selection --------------------------------------------------------------------------

void MainWindow::on_treeView_clicked(QModelIndex index)
{
    if (index.row() < 0)
        return;
    if (itemLevel(index) == 1) {
        ui->tableWidget_dev->selectRow(index.row());
        ui->tableWidget->clearSelection();
    } else {
        ui->tableWidget->selectRow(index.row());
        ui->tableWidget_dev->selectRow(index.parent().row());
    }
}

void MainWindow::on_tableWidget_dev_clicked(QModelIndex)
{
    activateTreeDevice(cellText(ui->tableWidget_dev, ui->tableWidget_dev->currentRow(), DevIp));
}

void MainWindow::on_tableWidget_clicked(QModelIndex)
{
    const int row = ui->tableWidget->currentRow();
    const QString ip = cellText(ui->tableWidget, row, ComIp);
    const QString comName = cellText(ui->tableWidget, row, ComName);
    for (int i = 0; i < treeModel->rowCount(); ++i) {
        QStandardItem *deviceItem = treeModel->item(i);
        if (deviceItem->text() != ip)
            continue;
        for (int j = 0; j < deviceItem->rowCount(); ++j) {
            if (deviceItem->child(j)->text() != comName)
                continue;
            const QModelIndex portIndex = deviceItem->child(j)->index();
            ui->treeView->setCurrentIndex(portIndex);
            emit ui->treeView->clicked(portIndex);
        }
    }
}

void MainWindow::activateTreeDevice(const QString &ip)
{
    for (int i = 0; i < treeModel->rowCount(); ++i) {
        if (treeModel->item(i)->text() != ip)
            continue;
        const QModelIndex index = treeModel->index(i, 0);
        ui->treeView->setCurrentIndex(index);
        emit ui->treeView->clicked(index);
    }
}

// Every row with that port number is selected in turn; the last one stays selected.
void MainWindow::selectPortRows(int portSeq)
{
    QTableWidget *table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (cellText(table, row, ComPortSeq).toInt() != portSeq)
            continue;
        table->selectRow(row);
        emit table->clicked(table->currentIndex());
    }
}

// ---- Toolbar ----------------------------------------------------------------------------

void MainWindow::on_toolButton_searchDev_clicked()
{
    toSerchDev();
}

void MainWindow::on_toolButton_addDev_clicked()
{
    toAddDev();
}

void MainWindow::on_toolButton_setSystem_clicked()
{
    settingsDialog->show();
}

void MainWindow::on_toolButton_about_clicked()
{
    aboutDialog = new AboutHelp(this);
    aboutDialog->setWindowFlags(dialogFlags);
    aboutDialog->setModal(true);
    aboutDialog->show();
    aboutDialog->setAttribute(Qt::WA_DeleteOnClose);
}

void MainWindow::toSerchDev()
{
    auto *dialog = new GetDevice(this);
    dialog->setWindowTitle(tr("搜索设备..."));
    dialog->setWindowFlags(dialogFlags);
    dialog->setModal(true);
    dialog->show();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &GetDevice::getDevInfo, this, &MainWindow::addSearchedDevice);
}

void MainWindow::toAddDev()
{
    auto *dialog = new AddDevice(this);
    dialog->setWindowTitle(tr("添加设备"));
    dialog->setWindowFlags(
        Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    dialog->setModal(true);
    dialog->show();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &AddDevice::addDevInfo, this, &MainWindow::addManualDevice);
}

// ---- Creating all ports of a device -----------------------------------------------------

void MainWindow::addManualDevice(int num, const QString &ip)
{
    createDevicePorts(num, QStringLiteral("%1Ports").arg(num), ip, QStringLiteral("null"));
}

void MainWindow::addSearchedDevice(const QStringList &infos)
{
    if (infos.size() < 4)
        return;
    createDevicePorts(infos.at(1).toInt(nullptr, 10), infos.at(0), infos.at(3), infos.at(2));
}

void MainWindow::createDevicePorts(
    int portCount, const QString &devType, const QString &devIp, const QString &devMac)
{
    Progressbar *dialog = openProgress(tr("正在生成串口..."), portCount);
    const quint64 id = worker->postCreateDevice(portCount, devType, devIp, devMac);
    trackProgress(id, dialog, devIp, ProgressKind::Creating);
}

Progressbar *MainWindow::openProgress(const QString &title, int maximum)
{
    auto *dialog = new Progressbar(title, this);
    dialog->setModal(true);
    dialog->onSetRange(0, maximum);
    dialog->show();
    // After show(), so an empty range really leaves the dialog closed.
    dialog->onSetValue(0);
    return dialog;
}

void MainWindow::trackProgress(
    quint64 taskId, Progressbar *dialog, const QString &devIp, ProgressKind kind)
{
    if (taskId == 0) {
        discardDialog(dialog);
        return;
    }
    progressTasks.insert(taskId, { dialog, devIp, kind });
}

void MainWindow::forwardProgress(int value)
{
    const ProgressTask task = progressTasks.value(runningTask);
    if (task.dialog)
        task.dialog->onSetValue(value);
}

// A creation ends with hideProgress in every outcome; a clearing sends it after a failure.
void MainWindow::onHideProgress()
{
    auto it = progressTasks.find(runningTask);
    if (it == progressTasks.end())
        return;
    discardDialog(it->dialog);
    if (it->kind != ProgressKind::Creating)
        return;

    const QString devIp = it->devIp;
    progressTasks.erase(it);
    waitProcessingEvents(300);
    for (int i = 0; i < treeModel->rowCount(); ++i) {
        if (treeModel->item(i)->text() != devIp)
            continue;
        const QModelIndex index = treeModel->index(i, 0);
        emit ui->treeView->clicked(index);
        ui->treeView->setCurrentIndex(index);
        ui->treeView->expand(index);
    }
}

void MainWindow::onTaskFinished(quint64 taskId)
{
    runningTask = 0;
    discardDialog(progressTasks.take(taskId).dialog);
}

void MainWindow::discardDialog(Progressbar *dialog)
{
    if (!dialog)
        return;
    dialog->hide();
    dialog->deleteLater();
}

void MainWindow::waitProcessingEvents(int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = ms; left > 0; left = ms - clock.elapsed()) {
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(left, 100)), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// ---- Context menus ----------------------------------------------------------------------

void MainWindow::on_treeView_customContextMenuRequested(QPoint pos)
{
    const QModelIndex index = ui->treeView->currentIndex();
    if (index.row() < 0)
        return;
    if (itemLevel(index) == 1) {
        runDeviceMenu(ui->treeView, pos, index.row(), index.data().toString());
    } else {
        runPortMenu(ui->treeView, pos, QIcon(QStringLiteral(":/icons/delete")),
            QIcon(QStringLiteral(":/icons/modify")), { true, index.parent().row(), index.row() });
    }
}

void MainWindow::on_tableWidget_dev_customContextMenuRequested(QPoint pos)
{
    const int row = ui->tableWidget_dev->currentRow();
    if (row < 0)
        return;
    runDeviceMenu(ui->tableWidget_dev, pos, row, cellText(ui->tableWidget_dev, row, DevIp));
}

void MainWindow::on_tableWidget_customContextMenuRequested(QPoint pos)
{
    const int row = ui->tableWidget->currentRow();
    if (row < 0)
        return;
    const QIcon icon(QStringLiteral(":/icons/deviceList"));
    runPortMenu(ui->tableWidget, pos, icon, icon, { false, -1, row });
}

void MainWindow::runDeviceMenu(QWidget *view, QPoint pos, int deviceRow, const QString &devIp)
{
    const bool fromTree = view == ui->treeView;
    QMenu menu(view);
    menu.addAction(QIcon(QStringLiteral(":/icons/add")), tr("创建虚拟串口"), this,
        [=] { createOnePort(deviceRow, fromTree); });
    menu.addAction(QIcon(QStringLiteral(":/icons/delete")), tr("清空所有串口"), this,
        [=] { clearDevice(devIp); });
    menu.addAction(QIcon(QStringLiteral(":/icons/goweb")), tr("网页配置"), this,
        [=] { openWebConfig(devIp); });
    auto *scrollArea = qobject_cast<QAbstractScrollArea *>(view);
    menu.exec(scrollArea->viewport()->mapToGlobal(pos));
}

void MainWindow::runPortMenu(QWidget *view, QPoint pos, const QIcon &deleteIcon,
    const QIcon &modifyIcon, const PortPosition &position)
{
    QMenu menu(view);
    menu.addAction(deleteIcon, tr("删除串口"), this,
        [=] { position.fromTree ? deleteTreePort() : deleteTablePort(); });
    menu.addAction(modifyIcon, tr("修改串口号"), this, [=] { modifyPort(position); });
    // For pasting into a serial program; nothing to copy before the service names the link.
    const QString link = portLinkAt(position);
    QAction *copy = menu.addAction(QIcon(QStringLiteral(":/icons/serial")), tr("复制串口路径"),
        this, [link] { QGuiApplication::clipboard()->setText(link); });
    copy->setEnabled(!link.isEmpty());
    // Stays the last entry.
    menu.addAction(QIcon(QStringLiteral(":/icons/deviceList")), tr("串口设置"), this,
        [=] { editPortSettings(position); });
    auto *scrollArea = qobject_cast<QAbstractScrollArea *>(view);
    menu.exec(scrollArea->viewport()->mapToGlobal(pos));
}

// ---- Port commands ----------------------------------------------------------------------

void MainWindow::createOnePort(int deviceRow, bool fromTree)
{
    qDebug() << "创建虚拟串口";
    QTableWidget *table = ui->tableWidget_dev;
    DevInfo device;
    device.devType = cellText(table, deviceRow, DevType);
    device.portCount = cellText(table, deviceRow, DevPorts).toInt(nullptr, 10);
    device.devMac = cellText(table, deviceRow, DevMac);
    device.devIp = cellText(table, deviceRow, DevIp);

    auto *dialog = new AppointVcom(device.portCount, this);
    dialog->setModal(true);
    dialog->setWindowTitle(tr("创建虚拟串口"));
    dialog->setWindowFlags(dialogFlags);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    // Queued, so the dialog is gone before the window waits for the new port.
    connect(
        dialog, &AppointVcom::appointSeq, this,
        [=](int portSeq) { createPortAt(device, portSeq, fromTree); }, Qt::QueuedConnection);
}

void MainWindow::createPortAt(const DevInfo &device, int portSeq, bool fromTree)
{
    DevInfo info = device;
    info.portSeq = portSeq;
    worker->postTask(TaskCreatePort, info);
    waitProcessingEvents(600);
    if (fromTree)
        qDebug() << "当前串口数量：" << ui->tableWidget->rowCount();
    selectPortRows(portSeq);
}

void MainWindow::clearDevice(const QString &devIp)
{
    qDebug() << "清空虚拟串口";
    // The range is the device's own number of ports, whatever the COM table shows now.
    const int ports = int(std::count_if(
        lastList.cbegin(), lastList.cend(), [&](const COMS_INFO &r) { return r.devIp == devIp; }));
    Progressbar *dialog = openProgress(tr("正在清空串口..."), ports);
    DevInfo info;
    info.devIp = devIp;
    trackProgress(worker->postTask(TaskClearDevice, info), dialog, devIp, ProgressKind::Clearing);
    ui->treeView->clearSelection();
    ui->tableWidget->clearSelection();
    ui->tableWidget_dev->clearSelection();
}

// Without a browser to start (no xdg-open), the user is given the address to open by hand.
void MainWindow::openWebConfig(const QString &devIp)
{
    const QUrl page(QStringLiteral("http://%1").arg(devIp));
    if (QDesktopServices::openUrl(page))
        return;
    QMessageBox box(QMessageBox::Information, tr("提示"),
        tr("无法启动网页浏览器。请在浏览器中手动打开以下地址：\n%1").arg(page.toString()),
        QMessageBox::Ok, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

void MainWindow::deleteTreePort()
{
    qDebug() << "删除虚拟串口";
    const QModelIndex index = ui->treeView->currentIndex();
    DevInfo info;
    info.comName = index.data().toString();
    worker->postTask(TaskDeleteCom, info);
    activateTreeDevice(index.parent().data().toString());
}

void MainWindow::deleteTablePort()
{
    qDebug() << "删除虚拟串口";
    const int row = ui->tableWidget->currentRow();
    DevInfo info;
    info.comName = cellText(ui->tableWidget, row, ComName);
    worker->postTask(TaskDeleteCom, info);
    activateTreeDevice(cellText(ui->tableWidget, row, ComIp));
}

void MainWindow::modifyPort(const PortPosition &position)
{
    qDebug() << "修改虚拟串口号";
    const QString chosenName = portNameAt(position);
    auto *dialog = new ModifyCom(usedPortNames(), this);
    dialog->setWindowTitle(tr("修改串口"));
    dialog->setModal(true);
    dialog->show();
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &ModifyCom::modifyToCom, this, [=](const QString &newCom) {
        // The views are rebuilt while the dialog is open: when the port has vanished or rows
        // have moved, the position holds another port, which must not be renamed.
        if (chosenName.isEmpty() || portNameAt(position) != chosenName)
            return;
        DevInfo info;
        info.comName = chosenName;
        info.newComName = newCom;
        worker->postTask(TaskModifyCom, info);
    });
}

// The worker's last list stands for the service: the GUI thread never waits for it.
QStringList MainWindow::usedPortNames() const
{
    QStringList names = localSerialPortNames();
    for (const COMS_INFO &port : lastList)
        names.append(port.comName);
    return names;
}

void MainWindow::editPortSettings(const PortPosition &position)
{
    const QString chosenName = portNameAt(position);
    const COMS_INFO *record = listedPort(chosenName);
    if (!record)
        return;
    auto *dialog = new PortSettings(record->config, this);
    dialog->setWindowTitle(tr("串口设置"));
    dialog->setModal(true);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    connect(dialog, &PortSettings::settingsChosen, this, [=](const PortConfig &config) {
        // As with renaming: the position must still hold the port the dialog was opened for.
        if (portNameAt(position) != chosenName)
            return;
        DevInfo info;
        info.comName = chosenName;
        info.config = config;
        worker->postTask(TaskPortSettings, info);
    });
}

QString MainWindow::portLinkAt(const PortPosition &position) const
{
    const COMS_INFO *port = listedPort(portNameAt(position));
    return port ? port->link : QString();
}

const COMS_INFO *MainWindow::listedPort(const QString &comName) const
{
    const auto record = std::find_if(lastList.cbegin(), lastList.cend(),
        [&](const COMS_INFO &port) { return port.comName == comName; });
    return comName.isEmpty() || record == lastList.cend() ? nullptr : &*record;
}

QString MainWindow::portNameAt(const PortPosition &position) const
{
    if (!position.fromTree)
        return cellText(ui->tableWidget, position.row, ComName);
    const QStandardItem *deviceItem = treeModel->item(position.deviceRow);
    const QStandardItem *portItem = deviceItem ? deviceItem->child(position.row) : nullptr;
    return portItem ? portItem->text() : QString();
}
