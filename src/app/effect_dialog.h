#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace plumora {

class Document;

// What an effect dialog may use of the main window: the document (source
// picture, results, label, history, dialog number, thick-and-thin flag) and
// the hand-over to freehand colouring.
class EffectHost {
public:
    virtual ~EffectHost() = default;
    virtual Document& document() = 0;
    // "Color up": shows the freehand work area and its control window.
    virtual void colorUp() = 0;
};

// One row of the table of effect dialogs.
struct EffectDialogInfo {
    int number;             // the open-dialog number, 1..17
    const char* className;  // the window's class, also its object name
    const char* caption;    // window caption
    const char* menuItem;   // object name of the menu item that opens it
    const char* menuText;   // the menu item's caption, ampersands shown as such
    int width;              // outer size
    int height;
};

// All seventeen, by number.
const std::vector<EffectDialogInfo>& effectDialogTable();
const EffectDialogInfo& effectDialogInfo(int number);

// An effect dialog: a small modeless window that stays on top of the main
// window and has only a close box. Showing it runs FormShow, which records
// its number as the open dialog; closing it (close box or closetool) runs
// FormClose, which clears the number, and only hides it.
class EffectDialog : public QWidget {
    Q_OBJECT
public:
    EffectDialog(int number, EffectHost& host, QWidget* mainWindow);

    int number() const { return m_info.number; }
    const EffectDialogInfo& info() const { return m_info; }

protected:
    virtual void FormShow();
    virtual void FormClose();

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    Document& document();
    EffectHost& m_host;

private:
    const EffectDialogInfo& m_info;
};

// The window of an effect that a later version brings: its caption, size,
// place and number are those of the finished dialog.
class PendingEffectDialog : public EffectDialog {
    Q_OBJECT
public:
    PendingEffectDialog(int number, EffectHost& host, QWidget* mainWindow);
};

// Window flags shared by every small tool window of the program.
Qt::WindowFlags toolWindowFlags();

}  // namespace plumora
