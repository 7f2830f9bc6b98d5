#pragma once

#include "records.h"

#include <QHash>
#include <QIcon>
#include <QMainWindow>
#include <QMap>
#include <QModelIndex>
#include <QPointer>
#include <QVector>

#include <optional>

namespace Ui {
class MainWindow;
}
class AboutHelp;
class Progressbar;
class QStandardItem;
class QStandardItemModel;
class QTableWidget;
class RefreshTree;
class SystemSettings;

// The working view: a tree of devices with their virtual ports, the device table and the
// COM-port table, all rebuilt from the worker's port lists; and the commands on them.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // What the manual entry and the search dialog hand over: create every port of the device.
    void addManualDevice(int num, const QString &ip);
    void addSearchedDevice(const QStringList &infos);

signals:
    void retranslateUI();

public slots:
    void handerAnalysis(QList<COMS_INFO> comsInfo);
    void toSerchDev();
    void toAddDev();

private slots:
    void on_treeView_customContextMenuRequested(QPoint pos);
    void on_toolButton_searchDev_clicked();
    void on_toolButton_addDev_clicked();
    void on_tableWidget_dev_customContextMenuRequested(QPoint pos);
    void on_tableWidget_customContextMenuRequested(QPoint pos);
    void on_treeView_clicked(QModelIndex index);
    void on_tableWidget_dev_clicked(QModelIndex index);
    void on_tableWidget_clicked(QModelIndex index);
    void on_toolButton_setSystem_clicked();
    void on_toolButton_about_clicked();

private:
    using DeviceMap = QMap<QString, QList<COMS_INFO>>;
    enum class ProgressKind { Creating, Clearing };
    // A task that shows a progress dialog; only the signals of that task drive the dialog.
    struct ProgressTask
    {
        QPointer<Progressbar> dialog;
        QString devIp;
        ProgressKind kind;
    };
    // Where a COM-number change was asked for, checked again when the new name arrives.
    struct PortPosition
    {
        bool fromTree;
        int deviceRow;
        int row;
    };

    void setupSplitter();
    void setupTreeView();
    void setupTables();
    void setupWorker();
    void setupSettings();

    // Rebuild
    std::optional<QString> currentDeviceKey() const;
    void fillDeviceTable(const DeviceMap &devices);
    void fillTree(const DeviceMap &devices);
    void fillPortItems(QStandardItem *deviceItem, const QList<COMS_INFO> &ports,
        const QVector<QPair<QString, QIcon>> &iconsByState);
    void fillComTable(const QList<COMS_INFO> &ports);
    QVector<QPair<QString, QIcon>> translatedStateIcons() const;
    void removeDevice(const QString &ip);
    void showMessage(const QString &text);
    void showSaveError(const QString &error);
    void setLanguageIcon(bool chinese);
    void setAutoRunIcon(bool on);
    void retranslate();

    // Selection
    void activateTreeDevice(const QString &ip);
    void selectPortRows(int portSeq);

    // Commands
    void createDevicePorts(
        int portCount, const QString &devType, const QString &devIp, const QString &devMac);
    void createOnePort(int deviceRow, bool fromTree);
    void createPortAt(const DevInfo &device, int portSeq, bool fromTree);
    void clearDevice(const QString &devIp);
    void openWebConfig(const QString &devIp);
    void deleteTreePort();
    void deleteTablePort();
    void modifyPort(const PortPosition &position);
    void editPortSettings(const PortPosition &position);
    // The link of the port at position as the service placed it; empty while it is not known.
    QString portLinkAt(const PortPosition &position) const;
    QString portToolTip(const COMS_INFO &port) const;
    QStringList protocolLines(const COMS_INFO &port) const;
    // The port of the last list with that COM name; null when there is none.
    const COMS_INFO *listedPort(const QString &comName) const;
    QString portNameAt(const PortPosition &position) const;
    QStringList usedPortNames() const;
    void runDeviceMenu(QWidget *view, QPoint pos, int deviceRow, const QString &devIp);
    void runPortMenu(QWidget *view, QPoint pos, const QIcon &deleteIcon, const QIcon &modifyIcon,
        const PortPosition &position);
    void waitProcessingEvents(int ms);

    // Progress dialogs, one per task id
    Progressbar *openProgress(const QString &title, int maximum);
    void trackProgress(
        quint64 taskId, Progressbar *dialog, const QString &devIp, ProgressKind kind);
    void forwardProgress(int value);
    void onHideProgress();
    void onTaskFinished(quint64 taskId);
    static void discardDialog(Progressbar *dialog);

    Ui::MainWindow *ui;
    RefreshTree *worker;
    QStandardItemModel *treeModel;
    SystemSettings *settingsDialog;
    QPointer<AboutHelp> aboutDialog;

    QIcon deviceIcon;
    QIcon plainPortIcon;
    QVector<QPair<const char *, QIcon>> stateIcons;

    // The last list and the device the COM table showed, so an unchanged list costs nothing.
    QList<COMS_INFO> lastList;
    std::optional<QString> lastDeviceKey;
    bool viewsStale = true;

    QHash<quint64, ProgressTask> progressTasks;
    quint64 runningTask = 0;
};
