#include "effects/sketch/pencil_sketch_dialog.h"

#include "app/messages.h"
#include "document/document.h"
#include "raster/rounding.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

namespace plumora {

namespace {

// The grey of the adjustment that OK will not apply.
const QColor kInactiveGrey(0x80, 0x80, 0x80);

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& at)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(at);
    return l;
}

QSlider* trackBar(QWidget* parent, const char* name, int min, int max, int value, int tickInterval, int top)
{
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(min, max);
    bar->setValue(value);
    bar->setSingleStep(1);
    bar->setPageStep(tickInterval == 1 ? 5 : tickInterval);
    bar->setTickInterval(tickInterval);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setGeometry(12, top, 242, 32);
    return bar;
}

void setTextColour(QLabel* label, const QColor& colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

}  // namespace

TBack_and_White_Sketch::TBack_and_White_Sketch(EffectHost& host, QWidget* mainWindow)
    : EffectDialog(1, host, mainWindow)
{
    // Both value labels start at "50": the contrast label keeps it until its
    // bar first moves, although position 45 stands for 51.
    Label1 = label(this, "Label1", QStringLiteral("Contrast:"), QRect(16, 14, 120, 20));
    Label4 = label(this, "Label4", QStringLiteral("50"), QRect(200, 14, 50, 20));
    Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A tick for every position where they can be told apart (about 2.7
    // pixels each on this bar); on the 256-position bar one every 16.
    TrackBar1 = trackBar(this, "TrackBar1", kContrastMin, kContrastMax, kContrastDefault, 1, 40);

    Label5 = label(this, "Label5", QString(40, u'-'), QRect(16, 78, 234, 14));

    Label2 = label(this, "Label2", QStringLiteral("Lighting:"), QRect(16, 96, 120, 20));
    Label3 = label(this, "Label3", QStringLiteral("50"), QRect(200, 96, 50, 20));
    Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TrackBar2 = trackBar(this, "TrackBar2", kLightingMin, kLightingMax, kLightingDefault, 16, 122);

    Button2 = new QToolButton(this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setToolTip(QStringLiteral("Color up"));
    Button2->setIcon(QIcon(QStringLiteral(":/icons/color_up.svg")));
    Button2->setIconSize(QSize(20, 20));
    Button2->setGeometry(16, 172, 32, 28);
    Button2->setEnabled(false);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(170, 172, 80, 28);

    showMode(PencilMode::Contrast);

    connect(TrackBar1, &QSlider::valueChanged, this, guarded([this] { TrackBar1Change(); }));
    connect(TrackBar2, &QSlider::valueChanged, this, guarded([this] { TrackBar2Change(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(Button2, &QToolButton::clicked, this, guarded([this] { Button2Click(); }));
}

void TBack_and_White_Sketch::showMode(PencilMode mode)
{
    const QColor text = palette().color(QPalette::WindowText);
    const bool contrast = mode == PencilMode::Contrast;
    setTextColour(Label1, contrast ? text : kInactiveGrey);
    setTextColour(Label4, contrast ? text : kInactiveGrey);
    setTextColour(Label2, contrast ? kInactiveGrey : text);
    setTextColour(Label3, contrast ? kInactiveGrey : text);
}

void TBack_and_White_Sketch::FormShow()
{
    EffectDialog::FormShow();
    m_mode = PencilMode::Contrast;
    // The mode goes back to contrast, so the labels say so too: left as they
    // were, grey contrast labels would announce the lighting that OK no
    // longer applies.
    showMode(m_mode);
    Button2->setEnabled(false);
    document().setThickAndThin(false);
}

void TBack_and_White_Sketch::TrackBar1Change()
{
    m_mode = PencilMode::Contrast;
    Label4->setText(QString::number(Round(TrackBar1->value() * 100 / 89.0)));
    showMode(m_mode);
}

void TBack_and_White_Sketch::TrackBar2Change()
{
    m_mode = PencilMode::Lighting;
    Label3->setText(QString::number(Round(TrackBar2->value() * 100 / 255.0)));
    showMode(m_mode);
}

void TBack_and_White_Sketch::Button1Click()
{
    Document& doc = document();
    const int position = m_mode == PencilMode::Contrast ? TrackBar1->value() : TrackBar2->value();
    TBitmap32 result = pencilSketch(doc.source(), m_mode, position);
    // The result, the label and the history step in one commit; then the
    // flag and "Color up". The label coming before the step instead of
    // last changes nothing anyone can see.
    doc.applyResult(std::move(result), std::string("Pencil Sketch"));
    doc.setThickAndThin(false);
    Button2->setEnabled(true);
}

void TBack_and_White_Sketch::Button2Click()
{
    m_host.colorUp();
}

}  // namespace plumora
