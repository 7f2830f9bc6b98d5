// Prints the median time of one handerAnalysis() with 48 and 255 ports, for lists that change
// every time (port states flip), for lists that add and drop a device in front of all others
// (every row shifts) and for a list that repeats, as the idle worker sends it.
#include "faultinjector.h"
#include "inprocessservice.h"
#include "mainwindow.h"
#include "tirvresources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>

namespace {

const int runs = 301;

QList<COMS_INFO> portList(int ports, bool connected)
{
    const int perDevice = 16;
    QList<COMS_INFO> list;
    for (int i = 0; i < ports; ++i) {
        COMS_INFO record;
        record.portCount = perDevice;
        record.devType = QStringLiteral("16Ports");
        record.devIp = QStringLiteral("192.168.1.%1").arg(10 + i / perDevice);
        record.portSeq = QString::number(i % perDevice + 1);
        record.devMac
            = QStringLiteral("00:11:22:33:44:%1").arg(i / perDevice, 2, 16, QLatin1Char('0'));
        record.comName = QStringLiteral("COM%1").arg(i + 3);
        record.comState = (i % 2 == 0) == connected
            ? QCoreApplication::translate("RefreshTree", "已连接")
            : QCoreApplication::translate("RefreshTree", "未连接");
        list.append(record);
    }
    return list;
}

double medianMicroseconds(MainWindow &window, const QList<COMS_INFO> &a, const QList<COMS_INFO> &b)
{
    QVector<qint64> times;
    QElapsedTimer clock;
    for (int run = 0; run < runs; ++run) {
        const QList<COMS_INFO> list = run % 2 ? b : a;
        clock.start();
        window.handerAnalysis(list);
        times.append(clock.nsecsElapsed());
        QCoreApplication::processEvents();
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times.at(runs / 2) / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's worker talks to an in-process service whose listing is switched off, so
    // only the lists fed here reach the views.
    qputenv("TIRV_SERVICE", "inprocess");
    QApplication app(argc, argv);
    initTirvResources();
    InProcessService::faults().failCall(ConnectionService::GetConnectionsList, 0, -1);

    QTextStream out(stdout);
    out << "ports  states change (us)  rows shift (us)  unchanged (us)  [median of " << runs
        << " rebuilds]\n";
    for (int ports : { 48, 255 }) {
        MainWindow window;
        window.show();
        const QList<COMS_INFO> a = portList(ports, true);
        const QList<COMS_INFO> b = portList(ports, false);
        COMS_INFO front = a.first();
        front.devIp = QStringLiteral("192.168.1.1");
        const QList<COMS_INFO> shifted = QList<COMS_INFO> { front } + a.mid(1);
        const double changed = medianMicroseconds(window, a, b);
        const double shifting = medianMicroseconds(window, a, shifted);
        const double unchanged = medianMicroseconds(window, a, a);
        out << qSetFieldWidth(5) << ports << qSetFieldWidth(0) << "  " << qSetFieldWidth(18)
            << changed << qSetFieldWidth(0) << "  " << qSetFieldWidth(15) << shifting
            << qSetFieldWidth(0) << "  " << qSetFieldWidth(14) << unchanged << qSetFieldWidth(0)
            << "\n";
    }
    return 0;
}
