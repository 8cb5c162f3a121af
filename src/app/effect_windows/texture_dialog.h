#pragma once

#include "app/effect_windows/effect_dialog.h"

class QButtonGroup;

namespace plumora {

// The texture window: the fifteen tiles as thumbnails in a grid of three
// rows of five, each with a radio button below it, above the pressure.
// Clicking a thumbnail checks its radio button; the choice stays between
// showings.
class TextureDialog : public EffectDialog {
    Q_OBJECT
public:
    using EffectDialog::EffectDialog;

protected:
    int addOwnControls(int top) override;
    void readOwnValues(ParamValues& values) const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QButtonGroup* m_tiles = nullptr;
};

}  // namespace plumora
