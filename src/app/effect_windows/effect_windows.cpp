#include "app/effect_windows/effect_dialog.h"
#include "app/effect_windows/preview_dialog.h"
#include "app/effect_windows/texture_dialog.h"

#include <stdexcept>

namespace plumora {

EffectDialog* createEffectDialog(const EffectDeclaration& effect, EffectHost& host, QWidget* mainWindow)
{
    const EffectWindow* window = findWindow(effect.name);
    if (!window)
        throw std::out_of_range(effect.name + " has no window");
    EffectDialog* dialog = nullptr;
    switch (window->kind) {
    case WindowKind::Texture:
        dialog = new TextureDialog(effect, *window, host, mainWindow);
        break;
    case WindowKind::Previews:
        dialog = new PreviewDialog(effect, *window, host, mainWindow);
        break;
    case WindowKind::Plain:
        dialog = new EffectDialog(effect, *window, host, mainWindow);
        break;
    }
    dialog->build();
    return dialog;
}

}  // namespace plumora
