#include "app/application.h"

#include "app/about_dialog.h"
#include "app/effect_dialog.h"
#include "app/image_size_dialog.h"
#include "app/main_window.h"
#include "app/pending_window.h"
#include "effects/sketch/dozadir_dialog.h"
#include "effects/sketch/pen_and_ink_dialog.h"
#include "effects/sketch/pen_sketch_dialog.h"
#include "effects/sketch/pencil_sketch_dialog.h"
#include "formats/bmp.h"

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

std::unique_ptr<TMyPicture> createWindows()
{
    auto main = std::make_unique<TMyPicture>(builtInPicture());
    TMyPicture* m = main.get();
    auto effect = [m](int number) { m->setEffectDialog(new PendingEffectDialog(number, *m, m)); };

    effect(6);  // TFormOfFringe1
    effect(7);  // TFormOfFringe2
    effect(8);  // TFormOfFringe3
    auto* workArea = new PendingWindow(m, "TFreehand", "Work area", 738, 595);
    auto* control = new PendingWindow(m, "TFreehand_control", "Original photo", 226, 598);
    m->setFreehandWindows(workArea, control);
    m->setEffectDialog(new TBack_and_White_Sketch(*m, m));
    m->setAboutBox(new TAboutus(m));
    m->setEffectDialog(new TPen_Sketch(*m, m));
    m->setImageSizeDialog(new TImage_size(m->document(), m));
    m->setEffectDialog(new TDozadir(*m, m));
    effect(14);  // TTexture
    m->setEffectDialog(new TPen_and_Ink(*m, m));
    for (int number : {5, 9, 10, 11, 12, 13, 15, 16, 17})
        effect(number);
    return main;
}

}  // namespace plumora
