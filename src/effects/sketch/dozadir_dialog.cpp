#include "effects/sketch/dozadir_dialog.h"

#include "app/messages.h"
#include "document/document.h"
#include "effects/sketch/dozadir.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

namespace plumora {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& at)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(at);
    return l;
}

QRadioButton* radioButton(QWidget* parent, const char* name, const QString& caption, int left)
{
    auto* b = new QRadioButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(left, 174, 58, 22);
    return b;
}

}  // namespace

TDozadir::TDozadir(EffectHost& host, QWidget* mainWindow)
    : EffectDialog(3, host, mainWindow), m_direction(kDirectionRising)
{
    Label8 = label(this, "Label8", QStringLiteral("Dozadir Pressure:"), QRect(16, 14, 140, 20));
    Label9 = label(this, "Label9", QString::number(kDozadirPressureDefault), QRect(200, 14, 50, 20));
    Label9->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(kDozadirPressureMin, kDozadirPressureMax);
    TrackBar1->setValue(kDozadirPressureDefault);
    TrackBar1->setSingleStep(1);
    TrackBar1->setPageStep(10);
    TrackBar1->setTickInterval(16);  // one tick a position would be a solid bar
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setGeometry(12, 40, 242, 32);

    Label2 = label(this, "Label2", QStringLiteral("Scope:"), QRect(16, 84, 120, 20));
    Label3 = label(this, "Label3", QString::number(kDozadirScopeDefault), QRect(200, 84, 50, 20));
    Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TrackBar2 = new QSlider(Qt::Horizontal, this);
    TrackBar2->setObjectName(QStringLiteral("TrackBar2"));
    TrackBar2->setRange(kDozadirScopeMin, kDozadirScopeMax);
    TrackBar2->setValue(kDozadirScopeDefault);
    TrackBar2->setSingleStep(1);
    TrackBar2->setPageStep(1);
    TrackBar2->setTickInterval(1);
    TrackBar2->setTickPosition(QSlider::TicksBelow);
    TrackBar2->setGeometry(12, 110, 242, 32);

    Label1 = label(this, "Label1", QStringLiteral("Direction:"), QRect(16, 150, 120, 20));
    RadioButton1 = radioButton(this, "RadioButton1", QStringLiteral("///"), 16);
    RadioButton2 = radioButton(this, "RadioButton2", QStringLiteral("\\\\\\"), 76);
    RadioButton3 = radioButton(this, "RadioButton3", QStringLiteral("| | |"), 136);
    RadioButton4 = radioButton(this, "RadioButton4", QStringLiteral("=="), 196);
    RadioButton1->setChecked(true);

    Button2 = new QToolButton(this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setToolTip(QStringLiteral("Color up"));
    Button2->setIcon(QIcon(QStringLiteral(":/icons/color_up.svg")));
    Button2->setIconSize(QSize(20, 20));
    Button2->setGeometry(16, 220, 32, 28);
    Button2->setEnabled(false);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(170, 220, 80, 28);

    connect(TrackBar1, &QSlider::valueChanged, this, guarded([this] { TrackBar1Change(); }));
    connect(TrackBar2, &QSlider::valueChanged, this, guarded([this] { TrackBar2Change(); }));
    connect(RadioButton1, &QRadioButton::clicked, this, guarded([this] { RadioButton1Click(); }));
    connect(RadioButton2, &QRadioButton::clicked, this, guarded([this] { RadioButton2Click(); }));
    connect(RadioButton3, &QRadioButton::clicked, this, guarded([this] { RadioButton3Click(); }));
    connect(RadioButton4, &QRadioButton::clicked, this, guarded([this] { RadioButton4Click(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(Button2, &QToolButton::clicked, this, guarded([this] { Button2Click(); }));
}

void TDozadir::FormShow()
{
    EffectDialog::FormShow();
    RadioButton1->setChecked(true);
    m_direction = kDirectionRising;
    Button2->setEnabled(false);
}

void TDozadir::TrackBar1Change()
{
    Label9->setText(QString::number(TrackBar1->value()));
}

void TDozadir::TrackBar2Change()
{
    Label3->setText(QString::number(TrackBar2->value()));
}

void TDozadir::RadioButton1Click()
{
    m_direction = kDirectionRising;
}

void TDozadir::RadioButton2Click()
{
    m_direction = kDirectionFalling;
}

void TDozadir::RadioButton3Click()
{
    m_direction = kDirectionVertical;
}

void TDozadir::RadioButton4Click()
{
    m_direction = kDirectionHorizontal;
}

void TDozadir::Button1Click()
{
    Document& doc = document();
    // All scope steps at once: the pictures between the steps would only
    // flash past on screen before the last one.
    TBitmap32 result = dozadir(doc.source(), TrackBar1->value(), TrackBar2->value(), m_direction);
    doc.applyResult(std::move(result), std::string("Dozadir"));
    doc.setThickAndThin(true);
    Button2->setEnabled(true);
}

void TDozadir::Button2Click()
{
    m_host.colorUp();
}

}  // namespace plumora
