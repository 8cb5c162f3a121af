#pragma once

#include "app/effect_dialog.h"

class QLabel;
class QPushButton;
class QSlider;
class QToolButton;

namespace plumora {

// "Pen_Sketch": black lines on white, cut at the pen pressure.
class TPen_Sketch : public EffectDialog {
    Q_OBJECT
public:
    TPen_Sketch(EffectHost& host, QWidget* mainWindow);

    QSlider* TrackBar1;
    QLabel* Label8;
    QLabel* Label9;
    QPushButton* Button1;
    QToolButton* Button2;

    void Button1Click();
    void Button2Click();
    void TrackBar1Change();

protected:
    void FormShow() override;
};

}  // namespace plumora
