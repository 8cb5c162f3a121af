#pragma once

#include "app/effect_dialog.h"
#include "effects/sketch/pencil_sketch.h"

class QLabel;
class QPushButton;
class QSlider;
class QToolButton;

namespace plumora {

// "Pencil_Sketch": the grey edge picture, then contrast or lighting,
// whichever track bar the user moved last.
class TBack_and_White_Sketch : public EffectDialog {
    Q_OBJECT
public:
    TBack_and_White_Sketch(EffectHost& host, QWidget* mainWindow);

    QLabel* Label1;  // "Contrast:"
    QLabel* Label4;  // its value
    QSlider* TrackBar1;
    QLabel* Label5;  // the dashes between the two bars
    QLabel* Label2;  // "Lighting:"
    QLabel* Label3;  // its value
    QSlider* TrackBar2;
    QPushButton* Button1;
    QToolButton* Button2;

    // The adjustment OK applies.
    PencilMode mode() const { return m_mode; }

    void Button1Click();
    void Button2Click();
    void TrackBar1Change();
    void TrackBar2Change();

protected:
    void FormShow() override;

private:
    // Draws the labels of the chosen adjustment in the window-text colour
    // and those of the other one in grey.
    void showMode(PencilMode mode);

    PencilMode m_mode = PencilMode::Contrast;
};

}  // namespace plumora
