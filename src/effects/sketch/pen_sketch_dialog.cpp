#include "effects/sketch/pen_sketch_dialog.h"

#include "app/messages.h"
#include "document/document.h"
#include "effects/sketch/pen_sketch.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

namespace plumora {

TPen_Sketch::TPen_Sketch(EffectHost& host, QWidget* mainWindow) : EffectDialog(2, host, mainWindow)
{
    Label8 = new QLabel(QStringLiteral("Pen Pressure:"), this);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->setGeometry(16, 14, 120, 20);

    Label9 = new QLabel(QString::number(kPenPressureDefault), this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->setGeometry(200, 14, 50, 20);
    Label9->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(kPenPressureMin, kPenPressureMax);
    TrackBar1->setValue(kPenPressureDefault);
    TrackBar1->setSingleStep(1);
    TrackBar1->setPageStep(16);
    TrackBar1->setTickInterval(16);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setGeometry(12, 40, 242, 32);

    Button2 = new QToolButton(this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setToolTip(QStringLiteral("Color up"));
    Button2->setIcon(QIcon(QStringLiteral(":/icons/color_up.svg")));
    Button2->setIconSize(QSize(20, 20));
    Button2->setGeometry(16, 94, 32, 28);
    Button2->setEnabled(false);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(170, 94, 80, 28);

    connect(TrackBar1, &QSlider::valueChanged, this, guarded([this] { TrackBar1Change(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(Button2, &QToolButton::clicked, this, guarded([this] { Button2Click(); }));
}

void TPen_Sketch::FormShow()
{
    EffectDialog::FormShow();
    Button2->setEnabled(false);
}

void TPen_Sketch::TrackBar1Change()
{
    Label9->setText(QString::number(TrackBar1->value()));
}

void TPen_Sketch::Button1Click()
{
    Document& doc = document();
    TBitmap32 result = penSketch(doc.source(), TrackBar1->value());
    doc.applyResult(std::move(result), std::string("Pen Sketch"));
    doc.setThickAndThin(true);
    Button2->setEnabled(true);
}

void TPen_Sketch::Button2Click()
{
    m_host.colorUp();
}

}  // namespace plumora
