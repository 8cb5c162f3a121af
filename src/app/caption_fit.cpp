#include "app/caption_fit.h"

#include "app/mnemonics.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <optional>

namespace plumora {

namespace {

// What a control needs for its caption, and what it has.
struct CaptionRoom {
    QSize need;
    QSize room;
};

std::optional<CaptionRoom> captionRoom(const QWidget* w)
{
    const QFontMetrics fm = w->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        const QString text = label->text();
        // Rich text lays itself out (the About box); a rule of dashes is no caption.
        if (text.trimmed().isEmpty() || label->textFormat() == Qt::RichText || Qt::mightBeRichText(text) ||
            text.count(u'-') == text.size())
            return std::nullopt;
        const QSize room = label->contentsRect().size();
        if (label->wordWrap())
            return CaptionRoom{QSize(room.width(), label->heightForWidth(label->width())), room};
        return CaptionRoom{QSize(fm.horizontalAdvance(shownMenuText(text)), fm.height()), room};
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (qobject_cast<const QToolButton*>(w) || button->text().trimmed().isEmpty())
            return std::nullopt;
        return CaptionRoom{QSize(button->sizeHint().width(), fm.height()), button->size()};
    }
    return std::nullopt;
}

int scaled(int v, double factor)
{
    return int(std::lround(v * factor));
}

// How much larger the window must be for its most crowded caption to fit:
// the text's advance against the width left for it, its line height against
// the height; 1 or less when all fit.
double captionCrowding(const QWidget* window)
{
    double factor = 0;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisibleTo(window))
            continue;
        if (const auto r = captionRoom(w); r && r->room.width() > 0 && r->room.height() > 0)
            factor = std::max(
                {factor, double(r->need.width()) / r->room.width(), double(r->need.height()) / r->room.height()});
    }
    return factor;
}

}  // namespace

double fitCaptions(QWidget* window)
{
    const double crowding = captionCrowding(window);
    if (crowding <= 1.0 || window->layout())
        return 1.0;
    // A little over, in sixteenths, so that rounding never leaves a caption
    // a pixel short.
    const double factor = std::ceil(crowding * 16.0 + 0.5) / 16.0;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const QWidget* parent = w->parentWidget();
        if (w->isWindow() || !parent || parent->layout())
            continue;
        const QRect r = w->geometry();
        // Both edges scaled, so neighbours that touched still touch.
        const int left = scaled(r.left(), factor), top = scaled(r.top(), factor);
        w->setGeometry(left, top, scaled(r.left() + r.width(), factor) - left,
                       scaled(r.top() + r.height(), factor) - top);
    }
    const QSize size(scaled(window->width(), factor), scaled(window->height(), factor));
    if (window->minimumSize() == window->maximumSize())
        window->setFixedSize(size);
    else
        window->resize(size);
    return factor;
}

}  // namespace plumora
