// The windows under the desktop's colours and font sizes: under a dark
// palette every caption reads (4.5:1, measured on the rendered window) and
// the tool bars' icons stand out; at any font size from 9 to 14 points no
// caption is cut off.

#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "app/mnemonics.h"
#include "support/main_window_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <QToolButton>

#include <cmath>

using namespace plumora;

namespace {

// A dark palette as desktops give one (Fusion's colours, as qt6ct's
// "darker" and most dark themes set them).
QPalette darkPalette()
{
    QPalette p;
    const QColor window(53, 53, 53), base(35, 35, 35), text(235, 235, 235), disabled(127, 127, 127);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, QColor(25, 25, 25));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Midlight, QColor(66, 66, 66));
    p.setColor(QPalette::Mid, QColor(44, 44, 44));
    p.setColor(QPalette::Dark, QColor(25, 25, 25));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Link, QColor(42, 130, 218));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

// Relative luminance and contrast ratio as the accessibility guidelines
// define them.
double luminance(QRgb rgb)
{
    auto channel = [](int v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// In a rendered area: the background is its commonest colour, the ink the
// pixel that stands out from it most (the middle of a letter's stroke).
double inkContrast(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000u];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    double best = 1.0;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        best = std::max(best, contrast(it.key(), background));
    return best;
}

// Of the pixels a drawing changes on its commonest (background) colour,
// the share that stands out from it by the ratio.
double standingOut(const QImage& image, double ratio)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y) | 0xFF000000u];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    int drawn = 0, standing = 0;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it) {
        if (it.key() == background)
            continue;
        drawn += it.value();
        if (contrast(it.key(), background) >= ratio)
            standing += it.value();
    }
    return drawn > 0 ? double(standing) / drawn : 0.0;
}

// Where a control's caption is drawn, in its own coordinates: a check box's
// or a radio button's beside the indicator, a push button's inside its
// bevel, a label's all of it.
QRect captionArea(const QWidget* w)
{
    const QRect r = w->rect();
    if (qobject_cast<const QCheckBox*>(w))
        return r.adjusted(w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) + 2, 0, 0, 0);
    if (qobject_cast<const QRadioButton*>(w))
        return r.adjusted(w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w) + 2, 0, 0, 0);
    if (qobject_cast<const QPushButton*>(w))
        return r.adjusted(4, 4, -4, -4);
    return r;
}

QString captionOf(const QWidget* w);

// A rule drawn with dashes between alternatives: no caption.
bool isRule(const QWidget* w)
{
    const QString text = captionOf(w);
    return !text.isEmpty() && text.count(u'-') == text.size();
}

QString captionOf(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->textFormat() == Qt::RichText || Qt::mightBeRichText(label->text()) ? QString() : label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(w); button && !qobject_cast<const QToolButton*>(w))
        return shownMenuText(button->text());
    return {};
}

}  // namespace

class ThemeTest : public QObject, protected test::MainWindowFixture {
    Q_OBJECT

    // Every window of the program, in the order they are looked at: the
    // freehand pair last, as showing it disables the others.
    std::vector<QWidget*> windows()
    {
        std::vector<QWidget*> windows{m_main.get()};
        for (QObject* o : m_main->children())
            if (auto* w = qobject_cast<QWidget*>(o); w && w->isWindow() && !qobject_cast<QMenu*>(w))
                windows.push_back(w);
        windows.push_back(m_main->freehandWorkArea());
        windows.push_back(m_main->freehandControl());
        return windows;
    }

    // Shows the window, as the program would, and what it draws.
    static QImage shown(QWidget* window)
    {
        window->show();
        QApplication::processEvents();
        return window->grab().toImage();
    }

    static std::vector<QWidget*> captioned(QWidget* window)
    {
        std::vector<QWidget*> found;
        for (QWidget* w : window->findChildren<QWidget*>())
            if (w->window() == window && w->isVisible() && !captionOf(w).trimmed().isEmpty() && !isRule(w))
                found.push_back(w);
        return found;
    }

private slots:
    void initTestCase()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        m_lightPalette = QApplication::palette();
        m_font = QApplication::font();
    }

    void init() {}

    void cleanup()
    {
        closeWindows();
        QApplication::setPalette(m_lightPalette);
        QApplication::setFont(m_font);
    }

    void everyCaptionReadsUnderADarkPalette()
    {
        QApplication::setPalette(darkPalette());
        openWindows();
        int checked = 0;
        for (QWidget* window : windows()) {
            const QImage image = shown(window);
            for (QWidget* w : captioned(window)) {
                if (!w->isEnabled())
                    continue;  // a control that cannot be used is drawn faint on purpose
                const QRect area = captionArea(w).translated(w->mapTo(window, QPoint(0, 0)));
                const double ratio = inkContrast(image, area);
                if (ratio < 4.5 && qEnvironmentVariableIsSet("PLUMORA_THEME_DUMP"))
                    image.copy(area)
                        .scaled(area.size() * 8)
                        .save(QStringLiteral("/tmp/d2x/%1.png").arg(w->objectName()));
                QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1 / %2 \"%3\": %4:1")
                                                      .arg(window->objectName(), w->objectName(), captionOf(w))
                                                      .arg(ratio, 0, 'f', 2)));
                ++checked;
            }
        }
        QVERIFY2(checked > 80, qPrintable(QString::number(checked)));
    }

    void theToolBarsIconsStandOutUnderADarkPalette()
    {
        QApplication::setPalette(darkPalette());
        openWindows();
        QList<QToolButton*> buttons = m_main->toolBar->findChildren<QToolButton*>();
        for (QToolButton* b : m_main->freehandControl()->findChildren<QToolButton*>())
            buttons.push_back(b);
        m_main->freehandControl()->show();
        int checked = 0;
        for (QToolButton* b : buttons) {
            if (b->icon().isNull() || !b->isVisible())
                continue;
            b->setEnabled(true);
            // The icon as the button draws it, on the button's own colour
            // (a pressed button's shading left aside).
            QImage image(b->iconSize(), QImage::Format_RGB32);
            image.fill(b->palette().color(QPalette::Button));
            QPainter(&image).drawPixmap(0, 0, b->icon().pixmap(b->iconSize()));
            // Most of what the icon draws stands out from the button at 3:1,
            // the least for drawings (the lines of an icon, not only its
            // coloured fills).
            const double share = standingOut(image, 3.0);
            QVERIFY2(share >= 0.5, qPrintable(QStringLiteral("%1: %2").arg(b->objectName()).arg(share)));
            ++checked;
        }
        QVERIFY(checked >= 15);
    }

    void theFacesStayOnALightPalette()
    {
        openWindows();
        QCOMPARE(child<QWidget>(m_main.get(), "TImage_size")->palette().color(QPalette::Window),
                 QColor(0xA6, 0xCA, 0xF0));
        QCOMPARE(m_main->freehandWorkArea()->palette().color(QPalette::Window), QColor(0xA6, 0xCA, 0xF0));
        QCOMPARE(m_main->effectDialog("brume")->palette().color(QPalette::Window), QColor(166, 202, 240));
    }

    void noCaptionIsCutOffAtAnyFontSize_data()
    {
        QTest::addColumn<int>("points");
        for (int points = 9; points <= 14; ++points)
            QTest::addRow("%d pt", points) << points;
    }

    void noCaptionIsCutOffAtAnyFontSize()
    {
        QFETCH(int, points);
        QFont font = m_font;
        font.setPointSize(points);
        QApplication::setFont(font);
        openWindows();
        QStringList cut;
        for (QWidget* window : windows()) {
            shown(window);
            for (QWidget* w : captioned(window)) {
                // The caption's own line must fit: the text's advance in
                // the width left for it, its line height in the height.
                const QFontMetrics fm = w->fontMetrics();
                const QString caption = captionOf(w);
                QSize need(w->sizeHint().width(), fm.height());
                QSize room = w->size();
                if (auto* label = qobject_cast<QLabel*>(w)) {
                    room = label->contentsRect().size();
                    need = label->wordWrap() ? QSize(room.width(), label->heightForWidth(label->width()))
                                             : QSize(fm.horizontalAdvance(caption), fm.height());
                }
                if (need.width() > room.width() || need.height() > room.height())
                    cut << QStringLiteral("%1/%2 \"%3\" needs %4x%5, has %6x%7")
                               .arg(window->objectName(), w->objectName(), caption)
                               .arg(need.width())
                               .arg(need.height())
                               .arg(room.width())
                               .arg(room.height());
            }
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("\n"))));
    }

private:
    QPalette m_lightPalette;
    QFont m_font;
};

QTEST_MAIN(ThemeTest)
#include "theme_test.moc"
