#include "app/application.h"
#include "app/main_window.h"
#include "app/messages.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Plumora"));
    std::unique_ptr<plumora::MainWindow> main;
    plumora::runGuarded([&] { main = plumora::createWindows(); });
    if (!main)
        return 1;
    main->show();
    return app.exec();
}
