#pragma once

#include "freehand/strokes.h"
#include "freehand/tools.h"
#include "raster/bitmap32.h"

#include <QPoint>
#include <QRect>
#include <QWidget>

#include <optional>

class QScrollArea;

namespace plumora {

class Document;
class FreehandControl;

// The sketch under the tools: one picture pixel per screen pixel, with the
// brush outline and the straight line's rubber band drawn over it (they
// never enter the picture). Mouse events go to the work area.
class FreehandCanvas : public QWidget {
    Q_OBJECT
public:
    explicit FreehandCanvas(class FreehandWorkArea& workArea, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    FreehandWorkArea& m_workArea;
};

// The work area of freehand colouring (TFreehand, "Work area"): a copy of
// the displayed sketch that the tools chosen in the control window paint on.
// Nothing reaches the document until the control window's "OK" takes the
// picture; there is no undo inside, and closing discards every stroke.
class FreehandWorkArea : public QWidget {
    Q_OBJECT
public:
    FreehandWorkArea(Document& document, FreehandTools& tools, QWidget* mainWindow);

    // The control window, which is closed with this one while it is open.
    void setControl(FreehandControl* control) { m_control = control; }

    TBitmap32& picture() { return m_picture; }
    const TBitmap32& picture() const { return m_picture; }
    // Repaints the whole picture after a change made outside the tools
    // ("Thin", "Thick").
    void pictureChanged();
    // Gives the picture and the control window's photo the cursors of the
    // current tool.
    void setcursorimage2();
    // Another tool was chosen in the control window: its cursors, and the
    // brush outline off the picture unless the tool draws one.
    void toolChanged();

    // The tools, at a point in picture coordinates.
    void mousePressed(Qt::MouseButton button, Qt::MouseButtons held, QPoint at);
    void mouseMoved(Qt::MouseButtons held, QPoint at);
    void mouseReleased(Qt::MouseButton button, QPoint at);

    // What is drawn over the picture, in picture coordinates: the brush
    // outline's box and the straight line's rubber band, when shown.
    std::optional<QRect> outlineBox() const { return m_outline; }
    std::optional<QLine> linePreview() const { return m_preview; }

    FreehandCanvas* canvas() const { return m_canvas; }
    QScrollArea* scrollArea() const { return m_scroll; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // One dab of the rubber or the brush at the point; the screen shows it
    // at the next move or at the release.
    void dab(QPoint at);
    // Repaints what the dabs since the last showing changed.
    void showDabs();
    // Draws a line into the picture with the dashed pen of width = size in
    // the current colour, and repaints what it covers.
    void drawIntoPicture(QPoint from, QPoint to);
    void clearcircle();
    void drawcircle(QPoint at);
    void clearline();
    void drawline(QPoint start, QPoint end);

    Document& m_document;
    FreehandTools& m_tools;
    QWidget* m_mainWindow;
    FreehandControl* m_control = nullptr;
    QScrollArea* m_scroll = nullptr;
    FreehandCanvas* m_canvas = nullptr;
    TBitmap32 m_picture;

    // A rubber or brush stroke lasts from left-button down to up; the brush
    // works its colour rule out once for the stroke.
    bool m_stroking = false;
    std::optional<BrushColour> m_brushColour;
    QRect m_unshown;  // changed by the stroke, not yet repainted

    std::optional<QRect> m_outline;
    std::optional<QLine> m_preview;
    QPoint m_lineAnchor;
    QPoint m_penAt;

    bool m_panning = false;
    QPoint m_panAnchor;
};

}  // namespace plumora
