#pragma once

#include "portoperations.h"
#include "refreshtree.h"

#include <QObject>
#include <QStringList>

inline QStringList comNamesOf(const QList<COMS_INFO> &list)
{
    QStringList names;
    for (const COMS_INFO &info : list)
        names << info.comName;
    return names;
}

// Records the engine's signals as short texts, in the order they arrive. Listings are kept
// apart, since an idle worker sends one every 100 ms.
class SignalLog : public QObject
{
public:
    QStringList events;
    QList<QList<COMS_INFO>> lists;

    template <class Sender> void watchProgress(Sender *sender)
    {
        connect(sender, &Sender::setProgressValue, this,
            [this](int value) { events << QStringLiteral("progress:%1").arg(value); });
        connect(sender, &Sender::hideProgress, this, [this] { events << "hide"; });
        connect(sender, &Sender::removeDev, this,
            [this](const QString &ip) { events << "remove:" + ip; });
        connect(sender, &Sender::updateComInfo, this,
            [this](const QList<COMS_INFO> &list) { lists << list; });
    }

    void watch(PortOperations *ops) { watchProgress(ops); }

    void watch(RefreshTree *tree)
    {
        watchProgress(tree);
        connect(tree, &RefreshTree::msgInfo, this,
            [this](const QString &text) { events << "msg:" + text; });
        connect(tree, &RefreshTree::taskStarted, this,
            [this](quint64 id) { events << QStringLiteral("start:%1").arg(id); });
        connect(tree, &RefreshTree::taskFinished, this,
            [this](quint64 id) { events << QStringLiteral("finish:%1").arg(id); });
    }
};
