// Runs a collection the way the main window does and closes it on request, to show how long
// the process takes to end. Arguments: unit address, folder, one OID. Prints "running" once the
// first line is written; on the line "close" on stdin it waits for a tick's read to be under
// way, prints "closing" and ends as the program does: the modal main window's loop ends, the
// window deletes the collector on its way out, and main returns.
#include "collect/CCollector.h"
#include "collect/ICollectorEvents.h"
#include "platform/ModalDialog.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 4)
        return 2;
    ICollectorEvents view; // shows nothing
    auto collector = std::make_unique<CCollector>(&view);
    collector->SetOidList(std::vector<std::string> {argv[3]});
    collector->SetAgent(QString::fromLocal8Bit(argv[1]));
    collector->SetCommunity(std::string("public"));
    collector->SetPeriod(1);
    collector->SetFolder(argv[2]);
    collector->StartRun();
    if (!collector->IsRunActive())
        return 3;
    std::printf("running\n");
    std::fflush(stdout);

    QDialog window; // stands in for the main window, run modally as the program runs it
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QTimer poll;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            window.done(4);
        input.setEnabled(false);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!collector->IsCycleBusy())
                return;
            poll.stop();
            // Let the request go out, then close.
            QTimer::singleShot(300, [&] {
                std::printf("closing\n");
                std::fflush(stdout);
                window.reject();
            });
        });
        poll.start(20);
    });
    const int code = platform::ExecModal(window);
    collector.reset();
    return code == QDialog::Rejected ? 0 : code;
}
