// The floor for bench_footprint: the least a tray icon made with the same toolkit costs, an icon
// with a tooltip and a one-item menu and nothing else, living until it is ended. With --tick it
// also prints a line every 2 s, as a program does that looks at the idle time that often.
//
//   bench_tray_floor ICON.png [--tick]

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const bool tick = argc == 3 && std::strcmp(argv[2], "--tick") == 0;
    if (argc != 2 && !tick) {
        std::fprintf(stderr, "usage: bench_tray_floor ICON.png [--tick]\n");
        return 2;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &application, &QCoreApplication::quit);
    QSystemTrayIcon tray(QIcon(QString::fromLocal8Bit(argv[1])));
    tray.setToolTip(QStringLiteral("Floor"));
    tray.setContextMenu(&menu);
    tray.show();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [] {
        std::printf("1.0\n");
        std::fflush(stdout);
    });
    if (tick) {
        timer.start(2000);
    }
    return QApplication::exec();
}
