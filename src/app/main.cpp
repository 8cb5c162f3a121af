#include "app/application.h"
#include "app/main_window.h"
#include "app/messages.h"

#include <QApplication>
#include <QStringList>

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
    // plumora FILE opens FILE, as "Open" would.
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1)
        plumora::runGuarded([&] { main->openNamedPicture(arguments.at(1)); });
    return app.exec();
}
