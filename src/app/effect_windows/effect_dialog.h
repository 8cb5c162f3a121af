#pragma once

#include "app/effect_windows/window_table.h"
#include "effects/effects.h"

#include <QColor>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QToolButton;

namespace plumora {

class Document;
class EffectDialog;

// What an effect dialog may use of the main window: the document (source
// picture, results, label, history, dialog number, thick-and-thin flag) and
// the hand-over to freehand colouring.
class EffectHost {
public:
    virtual ~EffectHost() = default;
    virtual Document& document() = 0;
    // "Color up": shows the freehand work area and its control window.
    virtual void colorUp() = 0;
    // Runs a long computation so that the windows keep painting while it
    // runs; returns when it has ended, rethrowing what it threw.
    virtual void runLong(const std::function<void()>& compute) { compute(); }
    // The user changed a control of window: the host may show what the
    // window's values would make before they are applied.
    virtual void controlsChanged(EffectDialog& window) { (void)window; }
    // window closed: what it showed before an apply goes away.
    virtual void effectWindowClosed(EffectDialog& window) { (void)window; }
    // The run an apply button would compute with these values, when the
    // host has it at hand already (made for a preview); nothing otherwise.
    virtual std::optional<Document::EffectRun> preparedRun(const EffectDeclaration& effect, const ParamValues& values)
    {
        (void)effect;
        (void)values;
        return std::nullopt;
    }
};

// Window flags shared by every small tool window of the program.
Qt::WindowFlags toolWindowFlags();

// An effect's window, built from the effect's declaration and its window's
// layout (window_table.h): a small modeless
// window that stays on top of the main window and has only a close box. It
// holds one control (or group of controls) per parameter, the apply buttons
// and, for the line drawings, "Color up". Showing it records it as the open
// dialog; closing it (close box or closetool) clears that and only hides it.
// An apply button runs the effect on the source picture and commits the
// result through the document.
class EffectDialog : public QWidget {
    Q_OBJECT
public:
    // Builds a window with build(), or through createEffectDialog, which
    // picks the window an effect needs.
    EffectDialog(const EffectDeclaration& effect, const EffectWindow& window, EffectHost& host, QWidget* mainWindow);
    // Lays out the controls, once (a window of its own adds its controls
    // through the hooks below, which a constructor cannot call).
    void build();

    const EffectDeclaration& effect() const { return m_effect; }
    const EffectWindow& window() const { return m_window; }
    EffectDialogId id() const { return m_window.id; }

    // The values the controls hold, as an apply button reads them. A box
    // whose text is not a whole number throws ParamError with its text.
    ParamValues values() const;
    // Which of the effect's alternatives applies: the one moved last.
    const std::string& activeAlternative() const { return m_activeAlternative; }
    // Whether the main view may show this window's effect as its controls
    // move: not in a window whose choices apply at once or that shows its
    // own previews.
    virtual bool previewsInView() const;

    // Asks the user for a colour, starting from the current one; nothing on
    // cancel. Tests replace it.
    using ColourChooser = std::function<std::optional<QColor>(const QColor& current, QWidget* parent)>;
    void setColourChooser(ColourChooser chooser) { m_chooseColour = std::move(chooser); }

protected:
    // What a window of its own shows above the declared controls, and the
    // values it reads from them: nothing in a plain effect window. Each
    // gives the top of what comes below it.
    virtual int addOwnControls(int top) { return top; }
    virtual void readOwnValues(ParamValues&) const {}
    // What an apply button does once it has put back the defaults it asks
    // for: runs the effect with the values the controls hold and commits it.
    virtual void applyChosen();

    // Showing records the window as the open one and puts back what a
    // showing resets; closing clears the record.
    virtual void windowShown();
    virtual void windowClosed();

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    Document& document();
    // A control changed by the user's hand: tells the host, unless the
    // window itself is putting values back (showing, a defaults button).
    void controlsChanged();
    EffectHost& m_host;

private:
    // The controls of one parameter.
    struct Controls {
        const ParamDeclaration* param = nullptr;
        const ParamLayout* layout = nullptr;
        QLabel* caption = nullptr;
        QLabel* reading = nullptr;  // a slider's value label
        QSlider* slider = nullptr;
        QButtonGroup* choice = nullptr;
        QCheckBox* check = nullptr;
        std::vector<QLineEdit*> boxes;
        QWidget* swatch = nullptr;
        QColor colour;
    };

    // A caption above the controls, when the parameter has one; each gives
    // the top of what comes below it.
    int addCaption(Controls& c, int top, int width);
    int addSlider(Controls& c, int top);
    int addChoice(Controls& c, int top);
    int addCheck(Controls& c, int top);
    int addGrid(Controls& c, int top);
    int addSwatch(Controls& c, int top);
    void addButtons(int top, bool besideGrid);

    void sliderMoved(const Controls& c);
    void chooseColour(Controls& c);
    void setColour(Controls& c, const QColor& colour);
    void setToDefault(Controls& c);
    // Draws the labels of the alternative that applies in the window's text
    // colour and those of the others in grey.
    void showActiveAlternative();
    void applyClicked(const ApplyButton& button);

    const EffectDeclaration& m_effect;
    const EffectWindow& m_window;
    std::vector<Controls> m_controls;
    std::string m_activeAlternative;
    QToolButton* m_colorUp = nullptr;
    ColourChooser m_chooseColour;
    bool m_puttingBack = false;  // controls set by the window, not the hand
};

// The window of an effect: the plain one built from its declaration and its
// layout, or the one that shows what neither can say (texture thumbnails,
// previews). Owned by mainWindow when there is one. std::out_of_range for
// an effect that has no window.
EffectDialog* createEffectDialog(const EffectDeclaration& effect, EffectHost& host, QWidget* mainWindow);

}  // namespace plumora
