#pragma once

#include "mainwindow.h"
#include "records.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

// Shortcuts shared by the main window tests.
namespace WindowFixture {

inline COMS_INFO port(const QString &ip, const QString &comName, const QString &portSeq,
    const QString &state = QString(), const QString &type = "4Ports", int portCount = 4)
{
    COMS_INFO record;
    record.portCount = portCount;
    record.devType = type;
    record.devIp = ip;
    record.portSeq = portSeq;
    record.devMac = "null";
    record.comName = comName;
    record.comState = state;
    return record;
}

// Opens the view's context menu as a right click does, returns its entries (a disabled one as
// "(entry)") and activates `entry` (none: the menu is closed without a choice). No menu: an
// empty list.
inline QStringList runContextMenu(QAbstractItemView *view, const QString &entry = QString())
{
    QStringList entries;
    QTimer probe;
    probe.setSingleShot(true);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            entries << (action->isEnabled() ? action->text() : "(" + action->text() + ")");
            if (action->text() == entry && action->isEnabled())
                chosen = action;
        }
        if (!chosen) {
            menu->close();
            return;
        }
        menu->setActiveAction(chosen);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    probe.start(0);
    emit view->customContextMenuRequested(QPoint(4, 4));
    probe.stop();
    return entries;
}

// The window under test and its three views, for the test classes to inherit.
class WindowViews
{
protected:
    QTreeView *tree() const { return window->findChild<QTreeView *>("treeView"); }
    QTableWidget *devTable() const { return window->findChild<QTableWidget *>("tableWidget_dev"); }
    QTableWidget *comTable() const { return window->findChild<QTableWidget *>("tableWidget"); }
    QStandardItemModel *model() const
    {
        return qobject_cast<QStandardItemModel *>(tree()->model());
    }

    static QStringList column(const QTableWidget *table, int column)
    {
        QStringList texts;
        for (int row = 0; row < table->rowCount(); ++row)
            texts << table->item(row, column)->text();
        return texts;
    }

    MainWindow *window = nullptr;
};

// Answers every message box that opens, keeping its text.
class MessageBoxCatcher : public QObject
{
public:
    MessageBoxCatcher()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible()) {
                    texts << box->text();
                    box->accept();
                }
            }
        });
        timer.start(10);
    }

    QStringList texts;

private:
    QTimer timer;
};

} // namespace WindowFixture
