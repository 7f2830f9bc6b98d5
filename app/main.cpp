#include "instanceguard.h"
#include "mainwindow.h"
#include "tirvresources.h"
#include "tirvstyle.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    initTirvResources();
    TIRVStyle frame;
    auto *mainWindow = new MainWindow(&frame);
    frame.setContentWidget(mainWindow);
    frame.show();
    QObject::connect(mainWindow, &MainWindow::retranslateUI, &frame, &TIRVStyle::reStyleUI);

    // Checked after the window is up, as a second start shows its window under the warning.
    InstanceGuard guard(QStringLiteral("TIRV"));
    if (!guard.tryAcquire()) {
        InstanceGuard::showAlreadyRunning();
        return 0;
    }
    return app.exec();
}
