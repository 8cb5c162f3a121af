#pragma once

#include "app/effect_windows/effect_dialog.h"
#include "app/picture_dialogs.h"
#include "document/document.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QPrinter;
class QLabel;
class QMouseEvent;
class QMenu;
class QMenuBar;
class QScrollArea;
class QStatusBar;
class QToolButton;

namespace plumora {

class PictureView;

// The main window: shows the picture, names the last operation under it,
// carries the menus and the two tool bars, opens pictures and owns the
// document every other window works on.
class TMyPicture : public QMainWindow, public EffectHost {
    Q_OBJECT
public:
    explicit TMyPicture(const TBitmap32& builtInPicture);
    ~TMyPicture() override;

    // EffectHost
    Document& document() override { return *m_document; }
    void colorUp() override;

    // The windows created after this one, which the menus open.
    void setEffectDialog(EffectDialog* dialog);
    EffectDialog* effectDialog(EffectDialogId id) const;
    // The menu item that opens an effect's window.
    QAction* effectAction(EffectDialogId id) const;
    void setAboutBox(QWidget* about) { m_about = about; }
    void setFreehandWindows(QWidget* workArea, QWidget* control);
    void setImageSizeDialog(QWidget* dialog) { m_imageSize = dialog; }

    // Asks the user for a picture to open; returns an empty name on cancel.
    // Tests replace it.
    void setOpenFileChooser(std::function<QString()> chooser) { m_chooseOpenFile = std::move(chooser); }
    // Asks where to save and as which type (1 JPEG, 2 BMP, 3 WMF), starting on
    // the given type; nothing on cancel. Tests replace it.
    using SaveFileChooser = std::function<std::optional<SaveChoice>(int filterIndex)>;
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooseSaveFile = std::move(chooser); }
    // Lets the user choose and set up a printer; false on cancel. Tests replace it.
    void setPrinterChooser(std::function<bool(QPrinter&)> chooser) { m_choosePrinter = std::move(chooser); }

    // Handlers.
    void FormShow();
    void FormResize();
    void SpeedButton1Click();   // open
    void SpeedButton7Click();   // revert
    void SpeedButton3Click();   // undo
    void SpeedButton18Click();  // redo
    void Exit1Click();
    void About1Click();
    void Online1Click();
    void Imagesize1Click();
    void SpeedButton6Click();   // zoom in
    void SpeedButton5Click();   // zoom out
    void SpeedButton12Click();  // rotate clockwise
    void SpeedButton8Click();   // rotate anticlockwise
    void SpeedButton10Click();  // print
    void SpeedButton9Click();   // wallpaper
    void SpeedButton11Click();  // mail
    void imgzoomin();
    void imgzoomout();
    void OpenPicture();
    void SpeedButton2Click();  // save
    void SavePicture(const TBitmap32& picture);
    void closetool();
    // Every effect menu item: close the open dialog, place this one beside
    // the main window's right edge, show it.
    void openEffectDialog(EffectDialogId id);

    // Controls, by the names the rest of the program and its tests use.
    QWidget* ControlBar1;
    QWidget* Panel4;
    QWidget* Panel8;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton7;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton18;
    QToolButton* SpeedButton4;
    QToolButton* SpeedButton5;
    QToolButton* SpeedButton6;
    QToolButton* Button2;
    QLabel* Label5;
    QToolButton* SpeedButton12;
    QToolButton* SpeedButton8;
    QToolButton* SpeedButton9;
    QToolButton* SpeedButton10;
    QToolButton* SpeedButton11;
    QScrollArea* ScrollBox1;
    PictureView* Image1;
    PictureView* Image2;
    QLabel* Label1;
    QStatusBar* StatusBar1;
    QMenuBar* MainMenu1;
    QMenu* PopupMenu1;
    QAction* Open1;
    QAction* Save1;
    QAction* Exit1;
    QAction* Undo1;
    QAction* Redo1;
    QAction* Imagesize1;
    QAction* Online1;
    QAction* About1;
    QAction* Openanewpicture1;
    QAction* Foregroundsize1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolBars();
    void buildMenus();
    // Brings every control in line with the document.
    void refreshFromDocument();

    std::unique_ptr<Document> m_document;
    QWidget* m_client = nullptr;
    // By dialog number; [0], for no dialog, stays empty.
    std::array<EffectDialog*, kEffectDialogCount + 1> m_dialogs{};
    std::array<QAction*, kEffectDialogCount + 1> m_effectActions{};
    QWidget* m_about = nullptr;
    QWidget* m_freehandWorkArea = nullptr;
    QWidget* m_freehandControl = nullptr;
    QWidget* m_imageSize = nullptr;
    // Panning the picture with the right mouse button.
    bool Image1MouseDown(QMouseEvent* event);
    bool Image1MouseMove(QMouseEvent* event);
    bool Image1MouseUp(QMouseEvent* event);
    // The wheel over the picture area zooms instead of scrolling.
    bool AppMessage(QObject* receiver, QEvent* event);

    bool m_dragging = false;
    bool m_noPan = true;
    QPoint m_pressAt;
    QPoint m_scrollAtPress;
    std::function<QString()> m_chooseOpenFile;
    SaveFileChooser m_chooseSaveFile;
    std::function<bool(QPrinter&)> m_choosePrinter;
    int m_saveFilterIndex = 1;  // the type chosen last, JPEG the first time
};

}  // namespace plumora
