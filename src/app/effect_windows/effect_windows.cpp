#include "app/effect_windows/effect_dialog.h"
#include "app/effect_windows/texture_dialog.h"

namespace plumora {

EffectDialog* createEffectDialog(const EffectSpec& effect, EffectHost& host, QWidget* mainWindow)
{
    EffectDialog* dialog = nullptr;
    if (effect.window.id == EffectDialogId::Texture && effect.available())
        dialog = new TextureDialog(effect, host, mainWindow);
    else
        dialog = new EffectDialog(effect, host, mainWindow);
    dialog->build();
    return dialog;
}

}  // namespace plumora
