#include "app/application.h"

#include "app/about_dialog.h"
#include "app/caption_fit.h"
#include "app/effect_windows/effect_dialog.h"
#include "app/image_size_dialog.h"
#include "app/main_window.h"
#include "app/tool_window_guard.h"
#include "app/effect_windows/freehand_control.h"
#include "app/effect_windows/freehand_work_area.h"
#include "formats/bmp.h"
#include "formats/picture_file.h"
#include "formats/textures.h"

#include <QFile>

#include <stdexcept>

namespace plumora {

namespace {

TBitmap32 builtInPicture()
{
    QFile file(QStringLiteral(":/demo_photo.bmp"));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("The built-in picture is missing from the program.");
    const QByteArray bytes = file.readAll();
    return decodeBmp(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
}

}  // namespace

std::unique_ptr<MainWindow> createWindows()
{
    auto main = std::make_unique<MainWindow>(builtInPicture());
    MainWindow* m = main.get();
    m->document().setPictureSources(builtInTexture,
                                    [](const std::string& name) { return readAnyPicture(name, SvgDrawings::Read); });
    // Every window exists from the start, hidden, created in this order:
    // the first effect windows mixed with the freehand pair, the about box
    // and the image size dialog, then every other effect window by number.
    auto effect = [m](const EffectWindow& window) {
        if (!m->effectDialog(window.id)) {
            m->setEffectDialog(createEffectDialog(*findEffect(window.command), *m, m));
            fitCaptions(m->effectDialog(window.id));
            keepFromMinimising(m->effectDialog(window.id), m);
        }
    };
    auto named = [](std::string_view command) -> const EffectWindow& { return *findWindow(command); };
    effect(named("realism"));
    effect(named("abstract"));
    effect(named("pop-art"));
    auto control = std::make_unique<FreehandControl>(m->document(), m);
    auto workArea = std::make_unique<FreehandWorkArea>(m->document(), control->tools(), m);
    control->setWorkArea(workArea.get());
    workArea->setControl(control.get());
    m->setFreehandWindows(std::move(workArea), std::move(control));
    effect(named("pencil-sketch"));
    auto* about = new AboutBox(m);
    keepFromMinimising(about, m);
    m->setAboutBox(about);
    effect(named("pen-sketch"));
    auto* imageSize = new ImageSizeDialog(m->document(), m);
    QObject::connect(m, &MainWindow::documentChanged, imageSize, &ImageSizeDialog::documentChanged);
    fitCaptions(imageSize);
    keepFromMinimising(imageSize, m);
    m->setImageSizeDialog(imageSize);
    effect(named("dozadir"));
    effect(named("texture"));
    effect(named("pen-and-ink"));
    for (const EffectWindow& window : effectWindows())
        effect(window);
    return main;
}

}  // namespace plumora
