#pragma once

#include "freehand/tools.h"
#include "raster/bitmap32.h"

#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QColorDialog;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;

namespace plumora {

class Document;
class FreehandWorkArea;
class PictureView;

// The control window of freehand colouring (TFreehand_control, "Original
// photo"): the source photograph to pick colours from, the five tools, the
// colour, the size, the "Thin" and "Thick" line passes, and "OK" and
// "Cancel", which end freehand colouring. It owns the tool state, which
// survives from one opening to the next.
class FreehandControl : public QWidget {
    Q_OBJECT
public:
    FreehandControl(Document& document, QWidget* mainWindow);

    void setWorkArea(FreehandWorkArea* workArea) { m_workArea = workArea; }
    FreehandTools& tools() { return m_tools; }
    const FreehandTools& tools() const { return m_tools; }
    // True while the window is shown (the control-open flag).
    bool isOpen() const { return m_open; }

    PictureView* photoView() const { return m_photoView; }

    // "OK": the work area's picture becomes the displayed picture, named
    // "Color up" and recorded as one step, and freehand colouring ends.
    void okClicked();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void toolChosen(FreehandTool tool);
    void sizeMoved(int position);
    void chooseColour();
    void setColour(Rgb colour);
    // The eyedropper: picks the photo's colour at a point of the photo control.
    void pickAt(QPoint position);
    void thinClicked();
    void thickClicked();

    Document& m_document;
    QWidget* m_mainWindow;
    FreehandWorkArea* m_workArea = nullptr;
    FreehandTools m_tools;
    bool m_open = false;
    bool m_eyedropperHeld = false;
    // The photograph at full size, copied when the window is shown: the
    // eyedropper reads it.
    TBitmap32 m_photo;

    PictureView* m_photoView = nullptr;  // Image2
    QWidget* m_panel = nullptr;          // Panel1
    QButtonGroup* m_toolButtons = nullptr;
    QFrame* m_colourPanel = nullptr;         // ColorPanel
    QSlider* m_sizeSlider = nullptr;         // TrackBar1
    QLabel* m_sizeLabel = nullptr;           // Label1
    QPushButton* m_thinButton = nullptr;     // Button8
    QPushButton* m_thickButton = nullptr;    // Button4
    QColorDialog* m_colourDialog = nullptr;  // ColorDialog1
};

}  // namespace plumora
