#include "app/effect_windows/texture_dialog.h"

#include "effects/relief/texture.h"

#include <QButtonGroup>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>

namespace plumora {

namespace {

constexpr int kThumbnail = 41;
constexpr int kColumnStep = 49;
constexpr int kRowStep = 66;

}  // namespace

int TextureDialog::addOwnControls(int top)
{
    m_tiles = new QButtonGroup(this);
    for (std::size_t place = 0; place < kTextureGrid.size(); ++place) {
        const int number = kTextureGrid[place];
        const int left = 16 + kColumnStep * int(place % 5);
        const int row = top + kRowStep * int(place / 5);
        auto* thumbnail = new QLabel(this);
        thumbnail->setObjectName(QStringLiteral("texture%1").arg(number));
        thumbnail->setPixmap(QPixmap(QStringLiteral(":/textures/texture%1.png").arg(number))
                                 .scaled(kThumbnail, kThumbnail, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        thumbnail->setFrameStyle(QFrame::Box | QFrame::Plain);
        thumbnail->setGeometry(left, row, kThumbnail, kThumbnail);
        thumbnail->installEventFilter(this);
        // The first four tiles show a pointing hand over them.
        if (number <= 4)
            thumbnail->setCursor(Qt::PointingHandCursor);
        auto* button = new QRadioButton(this);
        button->setObjectName(QStringLiteral("RadioButton%1").arg(number));
        button->setGeometry(left + 12, row + kThumbnail + 2, 20, 20);
        m_tiles->addButton(button, number);
    }
    m_tiles->button(kTextureDefault)->setChecked(true);
    connect(m_tiles, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            controlsChanged();
    });
    return top + kRowStep * 3;
}

void TextureDialog::readOwnValues(ParamValues& values) const
{
    values.set("tile", m_tiles->checkedId());
}

bool TextureDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        const QString name = watched->objectName();
        if (name.startsWith(QStringLiteral("texture"))) {
            m_tiles->button(name.mid(7).toInt())->setChecked(true);
            return true;
        }
    }
    return EffectDialog::eventFilter(watched, event);
}

}  // namespace plumora
