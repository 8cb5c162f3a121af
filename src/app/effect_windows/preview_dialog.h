#pragma once

#include "app/effect_windows/effect_dialog.h"
#include "raster/bitmap32.h"

class QCheckBox;

namespace plumora {

class PictureView;

// The colour filter's and colour variety's window: two previews, the base
// picture on the left and the result on the right, six colour swatches and
// "For current". A swatch works on the previews only; "OK" hands the right
// preview to the document and closes the window. The base is the source
// picture, or the displayed one with "For current" ticked; clicking the
// left preview ("Reset") starts the result again from the base.
//
// The filter replaces the result by the base filtered with the swatch
// clicked last; the variety adds one step to the result at every click.
class PreviewDialog : public EffectDialog {
    Q_OBJECT
public:
    using EffectDialog::EffectDialog;

    const TBitmap32& base() const { return m_base; }
    // The window shows its own previews; the main view waits for "OK".
    bool previewsInView() const override { return false; }
    const TBitmap32& result() const { return m_result; }

protected:
    int addOwnControls(int top) override;
    void readOwnValues(ParamValues& values) const override;
    void applyChosen() override;
    void windowShown() override;
    void windowClosed() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool accumulates() const;
    // Loads the base from the document, as "For current" says, into both
    // previews.
    void loadBase();
    void swatchClicked(int index);
    void reset();
    void showPreviews();

    QCheckBox* m_forCurrent = nullptr;
    PictureView* m_baseView = nullptr;
    PictureView* m_resultView = nullptr;
    QWidget* m_swatches[6] = {};
    TBitmap32 m_base;
    TBitmap32 m_result;
    std::vector<int> m_clicks;  // the swatches clicked since the result was last the base
};

}  // namespace plumora
