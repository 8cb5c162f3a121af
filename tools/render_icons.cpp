// Renders the program's icon (resources/icons/app.svg) at the sizes the
// desktop's icon theme asks for, into resources/desktop/icons/:
//   cmake --build build --target plumora_render_icons && build/plumora_render_icons

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Qt's SVG icon engine draws the drawing afresh at every size.
    const QIcon icon(QStringLiteral(PLUMORA_RESOURCES "/icons/app.svg"));
    for (const int size : {48, 128, 256}) {
        const QImage image = icon.pixmap(size, size).toImage();
        if (image.width() != size) {
            std::fprintf(stderr, "cannot draw the icon at %d pixels\n", size);
            return 1;
        }
        const QString file = QStringLiteral(PLUMORA_RESOURCES "/desktop/icons/%1.png").arg(size);
        if (!image.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
