#include "app/effect_windows/preview_dialog.h"

#include "app/messages.h"
#include "app/picture_view.h"
#include "document/document.h"
#include "effects/colour/color_filter.h"
#include "effects/colour/color_variety.h"
#include "raster/preview.h"

#include <QCheckBox>
#include <QFrame>
#include <QMouseEvent>

namespace plumora {

namespace {

// The swatches' face colours, red to purple.
const QColor kFaces[6] = {QColor(255, 0, 0),   QColor(0, 128, 0),   QColor(0, 0, 255),
                          QColor(255, 255, 0), QColor(0, 128, 128), QColor(255, 0, 255)};

constexpr int kFrame = kPreviewFrameSize + 4;

}  // namespace

bool PreviewDialog::accumulates() const
{
    return effect().params.front().kind == ParamKind::Steps;
}

int PreviewDialog::addOwnControls(int top)
{
    // Two framed previews side by side, the swatches in a row below them,
    // "For current" below those.
    const ParamLayout& swatches = *window().findParam(effect().params.front().key);
    const int windowWidth = window().width;
    const int gap = (windowWidth - 2 * kFrame) / 3;
    PictureView* views[2] = {};
    for (int i = 0; i < 2; ++i) {
        auto* panel = new QFrame(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setGeometry(gap + i * (kFrame + gap), top, kFrame, kFrame);
        views[i] = new PictureView(panel);
        views[i]->setObjectName(QStringLiteral("Image%1").arg(i + 1));
    }
    m_baseView = views[0];
    m_resultView = views[1];
    m_baseView->setToolTip(QStringLiteral("Reset"));
    m_baseView->setCursor(Qt::PointingHandCursor);
    m_baseView->installEventFilter(this);

    const int swatchTop = top + kFrame + 16;
    const int step = (windowWidth - 2 * gap) / 6;
    for (int i = 0; i < 6; ++i) {
        auto* swatch = new QFrame(this);
        swatch->setObjectName(QString::fromStdString(swatches.controls.at(std::size_t(i))));
        swatch->setToolTip(QString::fromStdString(swatches.captions.at(std::size_t(i))));
        swatch->setFrameStyle(QFrame::Panel | QFrame::Raised);
        swatch->setAutoFillBackground(true);
        QPalette p = swatch->palette();
        p.setColor(QPalette::Window, kFaces[i]);
        swatch->setPalette(p);
        swatch->setCursor(Qt::PointingHandCursor);
        swatch->setGeometry(gap + i * step, swatchTop, step - 6, 28);
        swatch->installEventFilter(this);
        m_swatches[i] = swatch;
    }

    m_forCurrent = new QCheckBox(QStringLiteral("For current"), this);
    m_forCurrent->setObjectName(QStringLiteral("CheckBox1"));
    m_forCurrent->setGeometry(gap, swatchTop + 44, 150, 22);
    connect(m_forCurrent, &QCheckBox::toggled, this, guarded([this] { loadBase(); }));
    return swatchTop + 80;
}

void PreviewDialog::readOwnValues(ParamValues& values) const
{
    const std::string& key = effect().params.front().key;
    if (accumulates())
        values.set(key, m_clicks);
    else if (!m_clicks.empty())
        values.set(key, m_clicks.back());
}

void PreviewDialog::loadBase()
{
    const Document& doc = document();
    m_base = m_forCurrent->isChecked() ? doc.displayed() : doc.source();
    reset();
}

void PreviewDialog::reset()
{
    m_result = m_base;
    m_clicks.clear();
    showPreviews();
}

void PreviewDialog::showPreviews()
{
    // Each preview fitted into its frame, as large as the frame allows.
    const PreviewPlace place = DisplayImage(m_base.width(), m_base.height());
    for (PictureView* view : {m_baseView, m_resultView}) {
        view->setGeometry(place.left, place.top, place.width, place.height);
        view->update();
    }
    m_baseView->setPicture(&m_base);
    m_resultView->setPicture(&m_result);
}

void PreviewDialog::swatchClicked(int index)
{
    if (accumulates()) {
        colorVarietyStep(m_result, ColorVarietyKind(index + 1));
    } else {
        // Every filter starts from the base: a second swatch replaces the first.
        m_result = colorFilter(m_base, ColorFilterKind(index + 1));
        m_clicks.clear();
    }
    m_clicks.push_back(index);
    showPreviews();
}

void PreviewDialog::applyChosen()
{
    // Handed over, not copied: closing drops the previews anyway. (Should
    // the document run out of memory, it stays as it was and Reset brings
    // the base back.)
    // The recipe repeats what was clicked, on the picture it was clicked on.
    RecipeEffect made{m_clicks.empty() ? nullptr : &effect(), values(), m_forCurrent->isChecked()};
    document().applyResult(std::move(m_result), effect().historyLabel, std::move(made));
    close();
}

void PreviewDialog::windowShown()
{
    EffectDialog::windowShown();
    // Every showing starts from the source picture, "For current" unticked.
    const QSignalBlocker quiet(m_forCurrent);
    m_forCurrent->setChecked(false);
    loadBase();
}

void PreviewDialog::windowClosed()
{
    EffectDialog::windowClosed();
    // The previews live only while the window is open.
    m_base = TBitmap32();
    m_result = TBitmap32();
    m_clicks.clear();
    m_baseView->setPicture(nullptr);
    m_resultView->setPicture(nullptr);
}

bool PreviewDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_baseView) {
            runGuarded([this] { reset(); });
            return true;
        }
        for (int i = 0; i < 6; ++i)
            if (watched == m_swatches[i]) {
                runGuarded([this, i] { swatchClicked(i); });
                return true;
            }
    }
    return EffectDialog::eventFilter(watched, event);
}

}  // namespace plumora
