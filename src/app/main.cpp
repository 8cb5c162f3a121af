#include "app/application.h"
#include "app/main_window.h"
#include "app/messages.h"

#include <QApplication>

#include <string>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Plumora"));
    std::unique_ptr<plumora::MainWindow> main;
    plumora::runGuarded([&] { main = plumora::createWindows(); });
    if (!main)
        return 1;
    main->restoreSettings();
    main->show();
    // plumora FILE opens FILE, as "Open" would. Its bytes are taken as they
    // are: arguments() decodes them, which changes a name that is not UTF-8.
    // QApplication has taken its own options out of argv by now.
    if (argc > 1) {
        const std::string file = argv[1];
        plumora::runGuarded([&] { main->openLocalFile(file); });
    }
    return app.exec();
}
