#include "app/effect_windows/effect_dialog.h"

#include "app/messages.h"
#include "app/theme.h"
#include "document/document.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QRadioButton>
#include <QShowEvent>
#include <QShortcut>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

namespace plumora {

namespace {

// The layout: one column of controls 16 pixels from the left, the buttons
// in a row below them ("Color up" on the left, the apply buttons on the
// right), or beside the rows of a grid of boxes.
constexpr int kLeft = 16;
constexpr int kTop = 14;
constexpr int kSliderBlock = 70;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 28;
constexpr int kBottomMargin = 16;

// The grey of an alternative that does not apply.
const QColor kInactiveGrey(0x80, 0x80, 0x80);

QColor faceColour(WindowColour colour)
{
    switch (colour) {
    case WindowColour::SkyBlue:
        return QColor(166, 202, 240);
    case WindowColour::InactiveCaption:
        // The light blue-grey of a window title bar out of focus.
        return QColor(191, 205, 219);
    case WindowColour::Standard:
        break;
    }
    return {};
}

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

template <class W>
W* named(W* widget, const std::string& objectName)
{
    widget->setObjectName(text(objectName));
    return widget;
}

void setTextColour(QLabel* label, const QColor& colour)
{
    if (!label)
        return;
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, captionColour(colour));
    label->setPalette(p);
}

QColor colourOf(int rgb)
{
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

}  // namespace

Qt::WindowFlags toolWindowFlags()
{
    // A tool window of the main window stays above it, not above every
    // other program on the desktop.
    return Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
}

EffectDialog::EffectDialog(const EffectDeclaration& effect, const EffectWindow& window, EffectHost& host,
                           QWidget* mainWindow)
    : QWidget(mainWindow, toolWindowFlags()), m_host(host), m_effect(effect), m_window(window)
{
    const EffectWindow& w = window;
    setObjectName(text(w.className));
    setWindowTitle(text(w.caption));
    if (const QColor face = windowFace(faceColour(w.colour)); face.isValid()) {
        QPalette p = palette();
        p.setColor(QPalette::Window, face);
        setPalette(p);
        setAutoFillBackground(true);
    }
    m_chooseColour = [](const QColor& current, QWidget* parent) -> std::optional<QColor> {
        QColorDialog dialog(current, parent);
        dialog.setObjectName(QStringLiteral("ColorDialog1"));
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.selectedColor();
    };
}

void EffectDialog::build()
{
    m_controls.reserve(m_effect.params.size());
    int top = addOwnControls(kTop);
    bool grid = false;
    for (const ParamDeclaration& param : m_effect.params) {
        // A parameter without a layout has no controls here.
        const ParamLayout* layout = m_window.findParam(param.key);
        if (!layout || layout->drawnByWindow)
            continue;
        Controls& c = m_controls.emplace_back();
        c.param = &param;
        c.layout = layout;
        // A rule between alternatives: one or the other applies.
        if (m_effect.isAlternative(param.key) && param.key != m_effect.alternatives.front() &&
            !m_window.alternativesSeparator.empty()) {
            auto* rule = named(new QLabel(QString(40, u'-'), this), m_window.alternativesSeparator);
            rule->setGeometry(kLeft, top - 6, 234, 14);
            top += 12;
        }
        switch (param.kind) {
        case ParamKind::Slider:
            top = addSlider(c, top);
            break;
        case ParamKind::Choice:
            top = addChoice(c, top);
            break;
        case ParamKind::Flag:
            top = addCheck(c, top);
            break;
        case ParamKind::Grid:
            top = addGrid(c, top);
            grid = true;
            break;
        case ParamKind::Colour:
            top = addSwatch(c, top);
            break;
        case ParamKind::Number:
        case ParamKind::File:
        case ParamKind::Steps:
            break;  // typed on the command line, or drawn by a window of its own
        }
    }
    addButtons(top, grid);

    if (!m_effect.alternatives.empty()) {
        m_activeAlternative = m_effect.alternatives.front();
        showActiveAlternative();
    }
    // Declared Tab order: each control after the one before it.
    QWidget* previous = nullptr;
    for (const std::string& name : m_window.tabOrder) {
        auto* next = findChild<QWidget*>(text(name));
        if (previous && next)
            setTabOrder(previous, next);
        previous = next ? next : previous;
    }
}

int EffectDialog::addSlider(Controls& c, int top)
{
    const ParamDeclaration& p = *c.param;
    const ParamLayout& l = *c.layout;
    c.caption = named(new QLabel(text(l.labelText(p)), this), l.captionLabel);
    c.caption->setGeometry(kLeft, top, 150, 20);
    c.reading = named(new QLabel(text(l.initialText(p)), this), l.valueLabel);
    c.reading->setGeometry(200, top, 50, 20);
    c.reading->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    c.slider = named(new QSlider(Qt::Horizontal, this), l.controls.at(0));
    c.slider->setRange(p.min, p.max);
    c.slider->setValue(p.defaultValue.value_or(p.min));
    c.slider->setSingleStep(1);
    c.slider->setPageStep(l.pageStep);
    c.slider->setTickInterval(l.tickInterval);
    c.slider->setTickPosition(QSlider::TicksBelow);
    c.slider->setGeometry(kLeft - 4, top + 26, 242, 32);
    const std::size_t index = m_controls.size() - 1;
    connect(c.slider, &QSlider::valueChanged, this, guarded([this, index] { sliderMoved(m_controls[index]); }));
    return top + kSliderBlock;
}

int EffectDialog::addCaption(Controls& c, int top, int width)
{
    if (c.layout->captionLabel.empty())
        return top;
    c.caption = named(new QLabel(text(c.layout->labelText(*c.param)), this), c.layout->captionLabel);
    c.caption->setGeometry(kLeft, top, width, 20);
    if (c.layout->captionAsNote)
        setTextColour(c.caption, palette().color(QPalette::ToolTipBase));
    return top + 24;
}

int EffectDialog::addChoice(Controls& c, int top)
{
    const ParamDeclaration& p = *c.param;
    const ParamLayout& l = *c.layout;
    top = addCaption(c, top, 150);
    c.choice = new QButtonGroup(this);
    // Side by side, 60 pixels apart or as far as a longer caption needs; or
    // in columns, row by row, each column as wide as its longest caption.
    std::vector<QRadioButton*> buttons;
    for (std::size_t i = 0; i < l.controls.size(); ++i) {
        buttons.push_back(named(new QRadioButton(text(l.captions.at(i)), this), l.controls[i]));
        c.choice->addButton(buttons.back(), int(i));
    }
    const int columns = l.columns > 0 ? l.columns : int(buttons.size());
    std::vector<int> widths(std::size_t(columns), 58);
    for (std::size_t i = 0; i < buttons.size(); ++i)
        widths[i % std::size_t(columns)] = std::max(widths[i % std::size_t(columns)], buttons[i]->sizeHint().width());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        int left = kLeft;
        for (std::size_t column = 0; column < i % std::size_t(columns); ++column)
            left += widths[column] + 2;
        buttons[i]->setGeometry(left, top + 26 * int(i / std::size_t(columns)), widths[i % std::size_t(columns)], 22);
    }
    if (p.defaultValue)
        c.choice->button(*p.defaultValue)->setChecked(true);
    if (l.appliesAtOnce)
        connect(c.choice, &QButtonGroup::idToggled, this, [this](int, bool checked) {
            // Only the button that becomes chosen applies: choosing the
            // chosen one again changes nothing.
            if (checked)
                runGuarded([this] { applyChosen(); });
        });
    else
        connect(c.choice, &QButtonGroup::idToggled, this, [this](int, bool checked) {
            if (checked)
                controlsChanged();
        });
    const int rows = l.columns > 0 ? (int(l.controls.size()) + l.columns - 1) / l.columns : 1;
    return top + 26 * rows + 20;
}

int EffectDialog::addCheck(Controls& c, int top)
{
    const ParamDeclaration& p = *c.param;
    c.check = named(new QCheckBox(text(p.caption), this), c.layout->controls.at(0));
    c.check->setGeometry(kLeft, top + 2, 150, 22);
    c.check->setChecked(p.defaultValue.value_or(0) != 0);
    connect(c.check, &QCheckBox::toggled, this, [this] { controlsChanged(); });
    return top + 44;
}

int EffectDialog::addGrid(Controls& c, int top)
{
    // A caption above, the boxes three to a row below it.
    const ParamDeclaration& p = *c.param;
    const ParamLayout& l = *c.layout;
    top = addCaption(c, top, 234);
    for (std::size_t i = 0; i < l.controls.size(); ++i) {
        auto* box = named(new QLineEdit(QString::number(p.defaultGrid.at(i)), this), l.controls[i]);
        box->setToolTip(text(l.hint));
        box->setGeometry(kLeft + 46 * int(i % 3), top + 32 * int(i / 3), 40, 24);
        connect(box, &QLineEdit::textEdited, this, [this] { controlsChanged(); });
        c.boxes.push_back(box);
    }
    return top + 32 * int((l.controls.size() + 2) / 3);
}

int EffectDialog::addSwatch(Controls& c, int top)
{
    const ParamDeclaration& p = *c.param;
    top = addCaption(c, top, 150);
    auto* swatch = named(new QFrame(this), c.layout->controls.at(0));
    swatch->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    swatch->setToolTip(text(c.layout->hint));
    swatch->setAutoFillBackground(true);
    swatch->setCursor(Qt::PointingHandCursor);
    swatch->setGeometry(kLeft, top, 48, 24);
    swatch->installEventFilter(this);
    c.swatch = swatch;
    setColour(c, colourOf(p.defaultValue.value_or(0)));
    return top + 36;
}

void EffectDialog::addButtons(int top, bool besideGrid)
{
    const EffectWindow& w = m_window;
    const int count = int(w.buttons.size());
    // Beside a grid, the first button stands by its top row and the last by
    // its bottom row; otherwise all stand in the bottom row, right-aligned.
    const int gridTop = top - 32 * 3;
    const int buttonTop = besideGrid ? gridTop : top + 10;
    QPushButton* first = nullptr;
    for (int i = 0; i < count; ++i) {
        const ApplyButton& declared = w.buttons[std::size_t(i)];
        auto* button = named(new QPushButton(text(declared.caption), this), declared.objectName);
        button->setToolTip(text(declared.hint));
        if (besideGrid)
            button->setGeometry(170, gridTop - 2 + (count > 1 ? i * 64 / (count - 1) : 0), kButtonWidth, kButtonHeight);
        else
            button->setGeometry(170 - (count - 1 - i) * (kButtonWidth + 8), buttonTop, kButtonWidth, kButtonHeight);
        connect(button, &QPushButton::clicked, this, guarded([this, &declared] { applyClicked(declared); }));
        if (i == 0) {
            button->setDefault(true);
            first = button;
        }
    }
    // Enter presses the first button, as in any dialog; a window without
    // buttons (the colour panel applies as a choice is made) has nothing for
    // Enter to press. Esc closes the window.
    if (first)
        for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)})
            connect(new QShortcut(key, this), &QShortcut::activated, first, &QPushButton::click);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    if (w.colorUp) {
        m_colorUp = named(new QToolButton(this), "Button2");
        m_colorUp->setToolTip(QStringLiteral("Color up"));
        m_colorUp->setIcon(toolIcon(QStringLiteral("color_up")));
        m_colorUp->setIconSize(QSize(20, 20));
        m_colorUp->setGeometry(kLeft, buttonTop, 32, kButtonHeight);
        m_colorUp->setEnabled(false);
        connect(m_colorUp, &QToolButton::clicked, this, guarded([this] { m_host.colorUp(); }));
    }
    const int bottom = besideGrid ? top : buttonTop + kButtonHeight;
    // The declared width, or more where this desktop's font makes a caption
    // longer than it: a clipped caption would hide which choice is which.
    int right = 0;
    for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        right = std::max(right, child->geometry().right() + 1);
    setFixedSize(std::max(w.width, right + kLeft / 2), w.height > 0 ? w.height : bottom + kBottomMargin);
}

Document& EffectDialog::document()
{
    return m_host.document();
}

ParamValues EffectDialog::values() const
{
    ParamValues values;
    readOwnValues(values);
    for (const Controls& c : m_controls) {
        const std::string& key = c.param->key;
        if (m_effect.isAlternative(key) && key != m_activeAlternative)
            continue;
        switch (c.param->kind) {
        case ParamKind::Slider:
            values.set(key, c.slider->value());
            break;
        case ParamKind::Choice:
            if (c.choice->checkedId() >= 0)
                values.set(key, c.choice->checkedId());
            break;
        case ParamKind::Flag:
            values.set(key, c.check->isChecked() ? 1 : 0);
            break;
        case ParamKind::Grid: {
            std::vector<int> numbers;
            for (const QLineEdit* box : c.boxes) {
                // Blanks around the number are forgiven; anything else is
                // reported with the box's text as it stands.
                const QString typed = box->text();
                try {
                    numbers.push_back(parseInteger(typed.trimmed().toStdString()));
                } catch (const ParamError&) {
                    throw ParamError("'" + typed.toStdString() + "' is not a valid integer value");
                }
            }
            values.set(key, std::move(numbers));
            break;
        }
        case ParamKind::Colour:
            values.set(key, int(c.colour.rgb() & 0xFFFFFF));
            break;
        case ParamKind::Number:
        case ParamKind::File:
        case ParamKind::Steps:
            break;
        }
    }
    return values;
}

void EffectDialog::sliderMoved(const Controls& c)
{
    c.reading->setText(text(c.layout->readingOf(c.slider->value())));
    if (m_effect.isAlternative(c.param->key)) {
        m_activeAlternative = c.param->key;
        showActiveAlternative();
    }
    controlsChanged();
}

void EffectDialog::controlsChanged()
{
    if (!m_puttingBack && previewsInView())
        m_host.controlsChanged(*this);
}

bool EffectDialog::previewsInView() const
{
    return std::none_of(m_controls.begin(), m_controls.end(),
                        [](const Controls& c) { return c.layout->appliesAtOnce; });
}

void EffectDialog::showActiveAlternative()
{
    const QColor normal = palette().color(QPalette::WindowText);
    for (const Controls& c : m_controls) {
        if (!m_effect.isAlternative(c.param->key))
            continue;
        const QColor colour = c.param->key == m_activeAlternative ? normal : kInactiveGrey;
        setTextColour(c.caption, colour);
        setTextColour(c.reading, colour);
    }
}

bool EffectDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (Controls& c : m_controls)
            if (c.swatch && watched == c.swatch) {
                runGuarded([&] { chooseColour(c); });
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}

void EffectDialog::chooseColour(Controls& c)
{
    // Cancelling leaves the colour as it was.
    if (const std::optional<QColor> chosen = m_chooseColour(c.colour, this)) {
        setColour(c, *chosen);
        controlsChanged();
    }
}

void EffectDialog::setColour(Controls& c, const QColor& colour)
{
    c.colour = colour;
    QPalette p = c.swatch->palette();
    p.setColor(QPalette::Window, colour);
    c.swatch->setPalette(p);
}

void EffectDialog::setToDefault(Controls& c)
{
    const ParamDeclaration& p = *c.param;
    const bool puttingBack = m_puttingBack;
    m_puttingBack = true;
    const auto restore = qScopeGuard([&] { m_puttingBack = puttingBack; });
    switch (p.kind) {
    case ParamKind::Slider:
        c.slider->setValue(p.defaultValue.value_or(p.min));
        break;
    case ParamKind::Choice:
        if (p.defaultValue)
            c.choice->button(*p.defaultValue)->setChecked(true);
        break;
    case ParamKind::Flag:
        c.check->setChecked(p.defaultValue.value_or(0) != 0);
        break;
    case ParamKind::Grid:
        for (std::size_t i = 0; i < c.boxes.size(); ++i)
            c.boxes[i]->setText(QString::number(p.defaultGrid.at(i)));
        break;
    case ParamKind::Colour:
        setColour(c, colourOf(p.defaultValue.value_or(0)));
        break;
    case ParamKind::Number:
    case ParamKind::File:
    case ParamKind::Steps:
        break;
    }
}

void EffectDialog::applyClicked(const ApplyButton& button)
{
    if (button.restoresDefaults)
        for (Controls& c : m_controls)
            setToDefault(c);
    applyChosen();
}

void EffectDialog::applyChosen()
{
    // Every value is read before anything changes: a box that holds no
    // number stops the click with the document as it was.
    const ParamValues v = values();
    // A preview of these very values has computed the run already.
    std::optional<Document::EffectRun> run = m_host.preparedRun(m_effect, v);
    if (!run)
        document().givingBackHistory([&] { m_host.runLong([&] { run = document().runEffect(m_effect, v); }); });
    document().commitEffect(std::move(*run));
    if (m_colorUp)
        m_colorUp->setEnabled(true);
}

void EffectDialog::windowShown()
{
    document().setOpenDialog(id());
    if (m_window.backupOnShow)
        document().backup();
    for (Controls& c : m_controls)
        if (c.layout->resetOnShow)
            setToDefault(c);
    // The first alternative applies again, and the labels say so: left as
    // they were, grey labels would announce one that no longer applies.
    if (!m_effect.alternatives.empty()) {
        m_activeAlternative = m_effect.alternatives.front();
        showActiveAlternative();
    }
    if (m_colorUp)
        m_colorUp->setEnabled(false);
    if (m_effect.thickAndThin == ThickAndThin::ClearOnShowAndApply)
        document().setThickAndThin(false);
}

void EffectDialog::windowClosed()
{
    m_host.effectWindowClosed(*this);
    document().setOpenDialog(EffectDialogId::None);
}

void EffectDialog::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        windowShown();
}

void EffectDialog::closeEvent(QCloseEvent* event)
{
    windowClosed();
    event->accept();  // closing only hides the window
}

}  // namespace plumora
