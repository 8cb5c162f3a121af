#pragma once

#include "app/effect_dialog.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;

namespace plumora {

// "Pen_and_Ink": the outlines of the dark areas, in black or in the
// photograph's colours.
class TPen_and_Ink : public EffectDialog {
    Q_OBJECT
public:
    TPen_and_Ink(EffectHost& host, QWidget* mainWindow);

    QLabel* Label8;  // "Adjust thread:"
    QLabel* Label9;  // its value
    QSlider* TrackBar1;
    QCheckBox* CheckBox1;
    QPushButton* Button1;
    QToolButton* Button2;

    void Button1Click();
    void Button2Click();
    void TrackBar1Change();

protected:
    void FormShow() override;
};

}  // namespace plumora
