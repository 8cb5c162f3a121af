#include "app/effect_dialog.h"

#include "document/document.h"

#include <QCloseEvent>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

#include <stdexcept>

namespace plumora {

const std::vector<EffectDialogInfo>& effectDialogTable()
{
    // Sizes: the colour panel, colour filter and colour variety windows have
    // their own; the others are sized for their few controls.
    static const std::vector<EffectDialogInfo> table = {
        {1, "TBack_and_White_Sketch", "Pencil_Sketch", "Pencilsketch1", "Pencil sketch", 266, 214},
        {2, "TPen_Sketch", "Pen_Sketch", "Pensketch1", "Pen sketch", 266, 150},
        {3, "TDozadir", "Dozadir", "Dozadir1", "Dozadir", 266, 262},
        {4, "TPen_and_Ink", "Pen_and_Ink", "PenInk1", "Pen & Ink", 266, 190},
        {5, "TColor_Sketch", "Color_Pencil", "Colorsketch1", "Color Pencil", 266, 150},
        {6, "TFormOfFringe1", "Setup for Realism", "Realism1", "Realism", 266, 200},
        {7, "TFormOfFringe2", "Setup for Abstract", "Abstract1", "Abstract", 266, 200},
        {8, "TFormOfFringe3", "Setup for Pop art", "Popart1", "Pop art", 266, 200},
        {9, "TWater_Color", "Water_Color", "Watercolor1", "Water color", 266, 150},
        {10, "TBrume", "Brume", "Brume1", "Brume", 266, 150},
        {11, "THSL_Adjust", "HSL_Adjust", "HSLadjust1", "HSL adjust", 266, 240},
        {12, "TColor_variety", "Color_variety", "Colorvariety1", "Color variety", 318, 300},
        {13, "TColor_Panel", "Color_Panel", "Colorpanel1", "Color panel", 230, 126},
        {14, "TTexture", "Texture", "exture1", "Texture", 266, 262},
        {15, "TEmboss", "Emboss", "Emboss1", "Emboss", 266, 190},
        {16, "TColor_Filter", "Color_Filter", "ColorFilter2", "Color Filter", 320, 299},
        {17, "TStria", "Stria", "Verticalstria1", "Stria", 266, 262},
    };
    return table;
}

const EffectDialogInfo& effectDialogInfo(int number)
{
    const auto& table = effectDialogTable();
    if (number < 1 || number > int(table.size()))
        throw std::out_of_range("no effect dialog has that number");
    return table[std::size_t(number - 1)];
}

Qt::WindowFlags toolWindowFlags()
{
    return Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
           Qt::WindowCloseButtonHint;
}

EffectDialog::EffectDialog(int number, EffectHost& host, QWidget* mainWindow)
    : QWidget(mainWindow, toolWindowFlags()), m_host(host), m_info(effectDialogInfo(number))
{
    setObjectName(QString::fromLatin1(m_info.className));
    setWindowTitle(QString::fromUtf8(m_info.caption));
    // Small fixed windows, as tool dialogs are.
    setFixedSize(m_info.width, m_info.height);
}

Document& EffectDialog::document()
{
    return m_host.document();
}

void EffectDialog::FormShow()
{
    document().setOpenDialog(number());
}

void EffectDialog::FormClose()
{
    document().setOpenDialog(0);
}

void EffectDialog::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void EffectDialog::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();  // closing only hides the window
}

PendingEffectDialog::PendingEffectDialog(int number, EffectHost& host, QWidget* mainWindow)
    : EffectDialog(number, host, mainWindow)
{
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(tr("This effect is not available yet."), this);
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    layout->addWidget(note);
}

}  // namespace plumora
