// The idle window against the real service: CPU time per second of this process (the window
// and its worker listing every 100 ms) and of tirv-service, and the service's memory, with 48
// and 255 idle ports. Run by hand:
//   bench_listing [seconds per measurement, default 10]
// The ports connect only when a program opens them, and nobody does: no traffic at all.

#include "mainwindow.h"
#include "portoperations.h"
#include "privateservice.h"
#include "processusage.h"
#include "serviceclient.h"
#include "tirvresources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const int portsPerDevice = 16;

// Every thread of this process, with microsecond resolution.
double ownCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Devices of 16 ports at 127.0.0.x through the engine's own task, until `total` ports exist.
void addPorts(int existing, int total)
{
    PortOperations ops;
    for (int device = existing / portsPerDevice; existing < total; ++device) {
        const int count = qMin(portsPerDevice, total - existing);
        QString message;
        ops.createDevicePorts(count, QStringLiteral("%1Ports").arg(count),
            QStringLiteral("127.0.0.%1").arg(device + 1),
            QStringLiteral("02:00:00:00:00:%1").arg(device + 1, 2, 16, QLatin1Char('0')), message);
        if (!message.isEmpty()) {
            fprintf(stderr, "creating ports failed: %s\n", qPrintable(message));
            exit(1);
        }
        existing += count;
    }
}

// Counts the lists the worker hands to the window: when idle, its only queued calls.
class ListCounter : public QObject
{
public:
    int lists = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++lists;
        return QObject::eventFilter(watched, event);
    }
};

void runEvents(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Figures
{
    double windowPercent;
    double servicePercent;
    double listsPerSecond;
    double roundTripsPerSecond;
};

// The window first settles (its first full listing and rebuild), then idles for `seconds`.
Figures measure(qint64 service, int seconds)
{
    MainWindow window;
    ListCounter counter;
    window.installEventFilter(&counter);
    window.show();
    runEvents(1500);

    counter.lists = 0;
    const quint64 tripsBefore = ServiceClient::instance().roundTrips();
    const double ownBefore = ownCpuSeconds();
    const double serviceBefore = ProcessUsage::cpuSeconds(service);
    QElapsedTimer clock;
    clock.start();
    runEvents(seconds * 1000);
    const double elapsed = clock.nsecsElapsed() / 1e9;
    return { (ownCpuSeconds() - ownBefore) / elapsed * 100.0,
        (ProcessUsage::cpuSeconds(service) - serviceBefore) / elapsed * 100.0,
        counter.lists / elapsed, (ServiceClient::instance().roundTrips() - tripsBefore) / elapsed };
}

} // namespace

int main(int argc, char *argv[])
{
    PrivateService privateService;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initTirvResources();
    const int seconds = qMax(1, app.arguments().value(1, QStringLiteral("10")).toInt());
    if (!privateService.start()) {
        fprintf(stderr, "the service did not start (TIRV_SERVICE_EXEC)\n");
        return 1;
    }
    const qint64 service = privateService.pid();
    printf("idle listing over %d s per row; CPU in %% of one core\n", seconds);
    printf("ports  window %%  service %%   sum %%  service RSS MB  lists/s  round trips/s  "
           "trips/list\n");
    int ports = 0;
    for (int wanted : { 48, 255 }) {
        addPorts(ports, wanted);
        ports = wanted;
        const Figures figures = measure(service, seconds);
        printf("%5d  %8.2f  %9.2f  %6.2f  %14.1f  %7.1f  %13.1f  %10.2f\n", ports,
            figures.windowPercent, figures.servicePercent,
            figures.windowPercent + figures.servicePercent,
            ProcessUsage::residentKiB(service) / 1024.0, figures.listsPerSecond,
            figures.roundTripsPerSecond, figures.roundTripsPerSecond / figures.listsPerSecond);
        fflush(stdout);
    }
    return 0;
}
