#pragma once

#include "app/effect_dialog.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QToolButton;

namespace plumora {

// "Dozadir": the pen sketch with its lines grown in one direction.
class TDozadir : public EffectDialog {
    Q_OBJECT
public:
    TDozadir(EffectHost& host, QWidget* mainWindow);

    QLabel* Label8;  // "Dozadir Pressure:"
    QLabel* Label9;  // its value
    QSlider* TrackBar1;
    QLabel* Label2;  // "Scope:"
    QLabel* Label3;  // its value
    QSlider* TrackBar2;
    QLabel* Label1;  // "Direction:"
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    QRadioButton* RadioButton4;
    QPushButton* Button1;
    QToolButton* Button2;

    // 1..4, as the radio buttons number them.
    int direction() const { return m_direction; }

    void Button1Click();
    void Button2Click();
    void TrackBar1Change();
    void TrackBar2Change();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void RadioButton4Click();

protected:
    void FormShow() override;

private:
    int m_direction;
};

}  // namespace plumora
