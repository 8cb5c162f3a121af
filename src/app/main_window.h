#pragma once

#include "app/effect_dialog.h"
#include "document/document.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
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
    EffectDialog* effectDialog(int number) const;
    void setAboutBox(QWidget* about) { m_about = about; }
    void setFreehandWindows(QWidget* workArea, QWidget* control);
    void setImageSizeDialog(QWidget* dialog) { m_imageSize = dialog; }

    // Asks the user for a picture to open; returns an empty name on cancel.
    // Tests replace it.
    void setOpenFileChooser(std::function<QString()> chooser) { m_chooseOpenFile = std::move(chooser); }

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
    void OpenPicture();
    void closetool();
    // Every effect menu item: close the open dialog, place this one beside
    // the main window's right edge, show it.
    void openEffectDialog(int number);

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
    std::array<QAction*, 18> effectActions{};  // by dialog number, 1..17

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
    std::array<EffectDialog*, 18> m_dialogs{};
    QWidget* m_about = nullptr;
    QWidget* m_freehandWorkArea = nullptr;
    QWidget* m_freehandControl = nullptr;
    QWidget* m_imageSize = nullptr;
    std::function<QString()> m_chooseOpenFile;
};

}  // namespace plumora
