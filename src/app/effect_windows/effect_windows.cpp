#include "app/effect_windows/effect_dialog.h"
#include "app/effect_windows/preview_dialog.h"
#include "app/effect_windows/texture_dialog.h"

namespace plumora {

EffectDialog* createEffectDialog(const EffectDeclaration& effect, EffectHost& host, QWidget* mainWindow)
{
    EffectDialog* dialog = nullptr;
    const EffectDialogId id = effect.window.id;
    if (id == EffectDialogId::Texture)
        dialog = new TextureDialog(effect, host, mainWindow);
    else if (id == EffectDialogId::ColorFilter || id == EffectDialogId::ColorVariety)
        dialog = new PreviewDialog(effect, host, mainWindow);
    else
        dialog = new EffectDialog(effect, host, mainWindow);
    dialog->build();
    return dialog;
}

}  // namespace plumora
