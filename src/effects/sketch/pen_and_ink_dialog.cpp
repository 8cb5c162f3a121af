#include "effects/sketch/pen_and_ink_dialog.h"

#include "app/messages.h"
#include "document/document.h"
#include "effects/sketch/pen_and_ink.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

namespace plumora {

TPen_and_Ink::TPen_and_Ink(EffectHost& host, QWidget* mainWindow) : EffectDialog(4, host, mainWindow)
{
    Label8 = new QLabel(QStringLiteral("Adjust thread:"), this);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->setGeometry(16, 14, 120, 20);

    Label9 = new QLabel(QString::number(kThreadDefault), this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->setGeometry(200, 14, 50, 20);
    Label9->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(kThreadMin, kThreadMax);
    TrackBar1->setValue(kThreadDefault);
    TrackBar1->setSingleStep(1);
    TrackBar1->setPageStep(16);
    TrackBar1->setTickInterval(16);  // one tick a position would be a solid bar
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setGeometry(12, 40, 242, 32);

    CheckBox1 = new QCheckBox(QStringLiteral("Color Ink"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(16, 86, 150, 22);

    Button2 = new QToolButton(this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setToolTip(QStringLiteral("Color up"));
    Button2->setIcon(QIcon(QStringLiteral(":/icons/color_up.svg")));
    Button2->setIconSize(QSize(20, 20));
    Button2->setGeometry(16, 140, 32, 28);
    Button2->setEnabled(false);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(170, 140, 80, 28);

    connect(TrackBar1, &QSlider::valueChanged, this, guarded([this] { TrackBar1Change(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(Button2, &QToolButton::clicked, this, guarded([this] { Button2Click(); }));
}

void TPen_and_Ink::FormShow()
{
    EffectDialog::FormShow();
    Button2->setEnabled(false);
}

void TPen_and_Ink::TrackBar1Change()
{
    Label9->setText(QString::number(TrackBar1->value()));
}

void TPen_and_Ink::Button1Click()
{
    Document& doc = document();
    // The outline picture goes straight into the document; no hidden picture
    // holder keeps a second copy of it alive between clicks.
    TBitmap32 result = penAndInk(doc.source(), TrackBar1->value(), CheckBox1->isChecked());
    // The step and the label in one commit (the label written after the
    // step instead would look no different).
    doc.applyResult(std::move(result), std::string("Pen and Ink"));
    doc.setThickAndThin(true);
    Button2->setEnabled(true);
}

void TPen_and_Ink::Button2Click()
{
    m_host.colorUp();
}

}  // namespace plumora
