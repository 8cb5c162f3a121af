#include "app/effect_windows/freehand_work_area.h"

#include "app/cursors.h"
#include "app/effect_windows/effect_dialog.h"
#include "app/effect_windows/freehand_control.h"
#include "app/messages.h"
#include "app/picture_view.h"
#include "app/theme.h"
#include "document/document.h"

#include <QImage>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

namespace plumora {

namespace {

const QColor kSkyBlue(166, 202, 240);

// The picture as Qt draws it and draws into it. The fourth byte is ignored
// on screen; what a pen draws gets 255 there.
QImage wrap(TBitmap32& picture)
{
    return QImage(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                  QImage::Format_RGB32);
}

bool usesDisc(FreehandTool tool)
{
    return tool == FreehandTool::Rubber || tool == FreehandTool::Brush;
}

}  // namespace

FreehandCanvas::FreehandCanvas(FreehandWorkArea& workArea, QWidget* parent) : QWidget(parent), m_workArea(workArea)
{
    setObjectName(QStringLiteral("Image1"));
    setToolTip(QStringLiteral("Right-down to move"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The brush outline follows the pointer with no button held, too.
    setMouseTracking(true);
}

void FreehandCanvas::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    TBitmap32& picture = m_workArea.picture();
    if (picture.empty()) {
        painter.fillRect(event->rect(), kSkyBlue);
        return;
    }
    // Only the exposed part is drawn, one picture pixel per screen pixel, so
    // a dab on a big picture costs what the dab covers.
    const QRect area = event->rect();
    painter.drawImage(area.topLeft(), wrap(picture), area);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    if (const auto box = m_workArea.outlineBox())
        painter.drawEllipse(*box);
    if (const auto line = m_workArea.linePreview())
        painter.drawLine(*line);
}

void FreehandCanvas::mousePressEvent(QMouseEvent* event)
{
    m_workArea.mousePressed(event->button(), event->buttons(), event->position().toPoint());
}

void FreehandCanvas::mouseMoveEvent(QMouseEvent* event)
{
    m_workArea.mouseMoved(event->buttons(), event->position().toPoint());
}

void FreehandCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    m_workArea.mouseReleased(event->button(), event->position().toPoint());
}

FreehandWorkArea::FreehandWorkArea(Document& document, FreehandTools& tools, QWidget* mainWindow)
    // No parent: the main window is disabled while this window is open, and
    // a child window would be disabled with it. So it stays on top of every
    // window, the main window included, while colouring lasts.
    : QWidget(nullptr, toolWindowFlags() | Qt::WindowStaysOnTopHint), m_document(document), m_tools(tools),
      m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("TFreehand"));
    setWindowTitle(QStringLiteral("Work area"));
    resize(738, 595);
    move(235, 40);
    if (const QColor face = windowFace(kSkyBlue); face.isValid()) {
        QPalette sky = palette();
        sky.setColor(QPalette::Window, face);
        setPalette(sky);
        setAutoFillBackground(true);
    }

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setBackgroundRole(QPalette::Window);
    m_scroll->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_canvas = new FreehandCanvas(*this, m_scroll);
    m_scroll->setWidget(m_canvas);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);

    // Enter ends freehand colouring keeping the colouring, Esc discards it,
    // as the control window's "OK" and "Cancel" do.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, guarded([this] {
                    if (m_control)
                        m_control->okClicked();
                }));
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
}

void FreehandWorkArea::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;  // shown again by the window system: the strokes stay
    m_picture = m_document.displayed();
    m_canvas->resize(m_picture.width(), m_picture.height());
    m_scroll->horizontalScrollBar()->setValue(0);
    m_scroll->verticalScrollBar()->setValue(0);
    m_stroking = false;
    m_brushColour.reset();
    m_unshown = {};
    m_outline.reset();
    m_preview.reset();
    m_panning = false;
    m_canvas->update();
    m_mainWindow->setEnabled(false);
}

void FreehandWorkArea::closeEvent(QCloseEvent* event)
{
    // Whichever of the pair closes first closes the other; the control
    // window clears its open flag before it closes this one, so the pair
    // closes once.
    if (m_control && m_control->isOpen())
        m_control->close();
    m_stroking = false;
    m_brushColour.reset();
    m_picture = TBitmap32();  // the strokes are kept or discarded by now
    event->accept();
}

void FreehandWorkArea::pictureChanged()
{
    m_canvas->update();
}

void FreehandWorkArea::toolChanged()
{
    if (!usesDisc(m_tools.tool))
        clearcircle();
    setcursorimage2();
}

void FreehandWorkArea::setcursorimage2()
{
    PictureView* photo = m_control ? m_control->photoView() : nullptr;
    auto set = [](QWidget* widget, const QCursor* cursor) {
        if (!widget)
            return;
        if (cursor)
            widget->setCursor(*cursor);
        else
            widget->unsetCursor();
    };
    switch (m_tools.tool) {
    case FreehandTool::Eyedropper: {
        const QCursor eyedrop = eyedropCursor();
        set(photo, &eyedrop);
        set(m_canvas, nullptr);
        break;
    }
    case FreehandTool::Rubber:
    case FreehandTool::Brush:
    case FreehandTool::Pen: {
        // The cross marks where the rubber, brush or pen acts: at its centre.
        const QCursor cross = crossCursor();
        set(m_canvas, &cross);
        set(photo, nullptr);
        break;
    }
    case FreehandTool::StraightLine:
    case FreehandTool::None:
        set(m_canvas, nullptr);
        set(photo, nullptr);
        break;
    }
}

void FreehandWorkArea::mousePressed(Qt::MouseButton, Qt::MouseButtons held, QPoint at)
{
    if (held & Qt::RightButton) {
        m_panning = true;
        m_panAnchor = at;
    }
    if (!(held & Qt::LeftButton))
        return;
    switch (m_tools.tool) {
    case FreehandTool::Rubber:
    case FreehandTool::Brush:
        m_stroking = true;
        if (m_tools.tool == FreehandTool::Brush)
            m_brushColour.emplace(m_tools.colour);
        else
            m_brushColour.reset();
        dab(at);
        break;
    case FreehandTool::StraightLine:
        clearline();
        m_lineAnchor = at;
        m_preview = QLine(at, at);
        break;
    case FreehandTool::Pen:
        m_penAt = at;
        break;
    case FreehandTool::Eyedropper:
    case FreehandTool::None:
        break;
    }
}

void FreehandWorkArea::mouseMoved(Qt::MouseButtons held, QPoint at)
{
    if ((held & Qt::RightButton) && m_panning) {
        // The anchor stays where it was grabbed in the picture: as the picture
        // scrolls under the pointer, the grabbed point follows it.
        QScrollBar* h = m_scroll->horizontalScrollBar();
        QScrollBar* v = m_scroll->verticalScrollBar();
        h->setValue(h->value() + m_panAnchor.x() - at.x());
        v->setValue(v->value() + m_panAnchor.y() - at.y());
    }
    if (held & Qt::LeftButton) {
        switch (m_tools.tool) {
        case FreehandTool::Rubber:
        case FreehandTool::Brush:
            if (m_stroking) {
                dab(at);
                showDabs();
            }
            break;
        case FreehandTool::StraightLine: {
            clearline();
            // The rubber band ends on an even distance from the anchor, so
            // the box that erases it halves exactly.
            QPoint end = at;
            if ((at.x() - m_lineAnchor.x()) % 2 != 0)
                end.rx() += 1;
            if ((at.y() - m_lineAnchor.y()) % 2 != 0)
                end.ry() += 1;
            drawline(m_lineAnchor, end);
            break;
        }
        case FreehandTool::Pen:
            drawIntoPicture(m_penAt, at);
            m_penAt = at;
            break;
        case FreehandTool::Eyedropper:
        case FreehandTool::None:
            break;
        }
    }
    if (usesDisc(m_tools.tool)) {
        clearcircle();
        // Near the edges no outline is shown; the tool still paints there.
        if (2 < at.x() && at.x() < m_picture.width() - 2 && 2 < at.y() && at.y() < m_picture.height() - 2)
            drawcircle(at);
    }
}

void FreehandWorkArea::mouseReleased(Qt::MouseButton button, QPoint at)
{
    if (button == Qt::RightButton)
        m_panning = false;
    if (button != Qt::LeftButton)
        return;
    switch (m_tools.tool) {
    case FreehandTool::Rubber:
    case FreehandTool::Brush:
        showDabs();
        m_stroking = false;
        m_brushColour.reset();
        break;
    case FreehandTool::StraightLine:
        clearline();
        // The line ends at the release point, not at the rubber band's
        // adjusted end.
        drawIntoPicture(m_lineAnchor, at);
        break;
    case FreehandTool::Pen:
    case FreehandTool::Eyedropper:
    case FreehandTool::None:
        break;
    }
}

void FreehandWorkArea::dab(QPoint at)
{
    const PixelRect changed = m_brushColour ? brush(m_picture, at.x(), at.y(), m_tools.size, *m_brushColour)
                                            : rub(m_picture, at.x(), at.y(), m_tools.size);
    if (!changed.empty())
        m_unshown |= QRect(changed.left, changed.top, changed.right - changed.left, changed.bottom - changed.top);
}

void FreehandWorkArea::showDabs()
{
    // The dabs go straight into the picture; only what they changed is
    // repainted, which shows the same as repainting the whole picture.
    if (!m_unshown.isEmpty())
        m_canvas->update(m_unshown);
    m_unshown = {};
}

void FreehandWorkArea::drawIntoPicture(QPoint from, QPoint to)
{
    if (m_picture.empty())
        return;
    const Rgb c = m_tools.colour;
    QImage image = wrap(m_picture);
    QPainter painter(&image);
    // Round caps join the short pieces of a freehand stroke without gaps.
    painter.setPen(QPen(QColor(c.red, c.green, c.blue), m_tools.size, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(from, to);
    painter.end();
    const int reach = m_tools.size + 1;
    m_canvas->update(QRect(from, to).normalized().adjusted(-reach, -reach, reach, reach));
}

void FreehandWorkArea::clearcircle()
{
    if (m_outline)
        m_canvas->update(m_outline->adjusted(-1, -1, 2, 2));
    m_outline.reset();
}

void FreehandWorkArea::drawcircle(QPoint at)
{
    const int r = m_tools.size;
    m_outline = QRect(at.x() - r, at.y() - r, 2 * r, 2 * r);
    m_canvas->update(m_outline->adjusted(-1, -1, 2, 2));
}

void FreehandWorkArea::clearline()
{
    if (m_preview)
        m_canvas->update(QRect(m_preview->p1(), m_preview->p2()).normalized().adjusted(-1, -1, 1, 1));
    m_preview.reset();
}

void FreehandWorkArea::drawline(QPoint start, QPoint end)
{
    m_preview = QLine(start, end);
    m_canvas->update(QRect(start, end).normalized().adjusted(-1, -1, 1, 1));
}

}  // namespace plumora
