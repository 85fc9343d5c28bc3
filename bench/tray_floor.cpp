// The floor for bench_footprint: the least a tray icon made with the same toolkit costs, an icon
// with a tooltip and a one-item menu and nothing else, living until it is ended.
//
//   bench_tray_floor ICON.png

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_tray_floor ICON.png\n");
        return 2;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &application, &QCoreApplication::quit);
    QSystemTrayIcon tray(QIcon(QString::fromLocal8Bit(argv[1])));
    tray.setToolTip(QStringLiteral("Floor"));
    tray.setContextMenu(&menu);
    tray.show();
    return QApplication::exec();
}
