#include "app/theme.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <cmath>
#include <utility>

namespace plumora {

namespace {

double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour)
{
    const QColor c = colour.toRgb();
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

QColor mixed(const QColor& from, const QColor& to, double t)
{
    const QColor a = from.toRgb(), b = to.toRgb();
    auto mix = [t](int x, int y) { return int(std::lround(x + (y - x) * t)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

// The icons' dark colours (the ink of their lines, the blue of arrows, the
// paints of "Color up"), and the lighter ones they take on dark tool bars.
constexpr std::pair<const char*, const char*> kOnDark[] = {
    {"#2f3a4a", "#dde3ec"},
    {"#2a7fd4", "#6cb2f2"},
    {"#c0392b", "#e8604f"},
    {"#3a9d5d", "#55c47c"},
};

class ToolIconEngine : public QIconEngine {
public:
    explicit ToolIconEngine(QString name) : m_name(std::move(name))
    {
        QFile file(QStringLiteral(":/icons/%1.svg").arg(m_name));
        if (file.open(QIODevice::ReadOnly))
            m_light = file.readAll();
        m_dark = m_light;
        for (const auto& [light, dark] : kOnDark)
            m_dark.replace(light, dark);
    }

    QIconEngine* clone() const override { return new ToolIconEngine(m_name); }
    QString key() const override { return QStringLiteral("plumora-tool-icon"); }
    QString iconName() override { return m_name; }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap p = pixmap(rect.size() * ratio, mode, state);
        p.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, p);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        const bool dark = isDarkPalette(QGuiApplication::palette());
        const QString key = QStringLiteral("%1x%2/%3/%4").arg(size.width()).arg(size.height()).arg(int(mode)).arg(dark);
        if (const auto cached = m_cache.constFind(key); cached != m_cache.constEnd())
            return *cached;
        QByteArray svg = dark ? m_dark : m_light;
        QBuffer buffer(&svg);
        QImageReader reader(&buffer, "svg");
        reader.setScaledSize(size);
        QPixmap pixmap = QPixmap::fromImage(reader.read());
        if (mode == QIcon::Disabled && qApp && !pixmap.isNull()) {
            QStyleOption option;
            option.palette = QGuiApplication::palette();
            pixmap = QApplication::style()->generatedIconPixmap(QIcon::Disabled, pixmap, &option);
        }
        m_cache.insert(key, pixmap);
        return pixmap;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

private:
    QString m_name;
    QByteArray m_light;
    QByteArray m_dark;
    QHash<QString, QPixmap> m_cache;
};

}  // namespace

bool isDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

double contrastRatio(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor windowFace(const QColor& face)
{
    return isDarkPalette(QGuiApplication::palette()) ? QColor() : face;
}

QColor readableOn(const QColor& text, const QColor& background)
{
    const QColor towards = luminance(background) < 0.18 ? QColor(Qt::white) : QColor(Qt::black);
    for (int step = 0; step <= 32; ++step) {
        const QColor c = mixed(text, towards, step / 32.0);
        if (contrastRatio(c, background) >= 4.5)
            return c;
    }
    return towards;
}

QColor captionColour(const QColor& colour)
{
    const QPalette palette = QGuiApplication::palette();
    return isDarkPalette(palette) ? readableOn(colour, palette.color(QPalette::Window)) : colour;
}

QIcon toolIcon(const QString& name)
{
    return QIcon(new ToolIconEngine(name));
}

}  // namespace plumora
