#pragma once

#include "app/effect_windows/effect_dialog.h"
#include "app/picture_dialogs.h"
#include "document/document.h"
#include "formats/metadata.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QPrinter;
class QLabel;
class QMouseEvent;
class QProgressBar;
class QMenu;
class QMenuBar;
class QScrollArea;
class QStatusBar;
class QToolButton;

namespace plumora {

class BusyWork;
class LivePreview;
class FreehandControl;
class FreehandWorkArea;
class PictureView;
class RecentFiles;

// The main window: shows the picture, names the last operation under it,
// carries the menus and the two tool bars, opens pictures and owns the
// document every other window works on.
class MainWindow : public QMainWindow, public EffectHost {
    Q_OBJECT
public:
    explicit MainWindow(const TBitmap32& builtInPicture);
    ~MainWindow() override;

    // EffectHost
    Document& document() override { return *m_document; }
    void colorUp() override;
    void runLong(const std::function<void()>& compute) override;
    void controlsChanged(EffectDialog& window) override;
    void effectWindowClosed(EffectDialog& window) override;
    std::optional<Document::EffectRun> preparedRun(const EffectDeclaration& effect, const ParamValues& values) override;
    BusyWork& busyWork() { return *m_busyWork; }
    LivePreview& livePreview() { return *m_preview; }
    // "Live preview" in the Edit menu: while it is on, moving a control of
    // an effect window shows its result in the view before it is applied.
    void setLivePreview(bool on);
    bool livePreviewOn() const;

    // The windows created after this one, which the menus open.
    void setEffectDialog(EffectDialog* dialog);
    // By window number, or by the effect's command name.
    EffectDialog* effectDialog(EffectDialogId id) const;
    EffectDialog* effectDialog(std::string_view command) const;
    // The menu item that opens an effect's window.
    QAction* effectAction(EffectDialogId id) const;
    QAction* effectAction(std::string_view command) const;
    void setAboutBox(QWidget* about) { m_about = about; }
    // The freehand pair, which "Color up" shows. They are windows of their
    // own, not children, so they stay usable while this window is disabled.
    void setFreehandWindows(std::unique_ptr<FreehandWorkArea> workArea, std::unique_ptr<FreehandControl> control);
    FreehandWorkArea* freehandWorkArea() const { return m_freehandWorkArea.get(); }
    FreehandControl* freehandControl() const { return m_freehandControl.get(); }
    void setImageSizeDialog(QWidget* dialog) { m_imageSize = dialog; }

    // What the program remembers between runs, in the user's configuration
    // folder: this window's size and place, the folders last opened from and
    // saved to, the save type, and where the user left each effect window.
    // restoreSettings takes it back (the program does at start-up); it is
    // written as it changes and when this window closes.
    void restoreSettings();
    QString openFolder() const { return m_openFolder; }
    QString saveFolder() const { return m_saveFolder; }

    // File > "Open Recent".
    RecentFiles* recentFiles() const { return m_recentFiles; }
    // Opens a file of that list; one that is gone is told and taken off.
    void openRecentFile(const std::string& file);

    // Asks the user for a picture to open; returns an empty name on cancel.
    // Tests replace it.
    void setOpenFileChooser(std::function<QString()> chooser) { m_chooseOpenFile = std::move(chooser); }
    // Asks where to save and as which type (by its place in saveTypes()),
    // starting on the given type, the suggested name and the JPEG quality
    // remembered; nothing on cancel. Tests replace it.
    using SaveFileChooser = std::function<std::optional<SaveChoice>(int filterIndex)>;
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooseSaveFile = std::move(chooser); }
    // Lets the user choose and set up a printer; false on cancel. Tests replace it.
    void setPrinterChooser(std::function<bool(QPrinter&)> chooser) { m_choosePrinter = std::move(chooser); }
    // Asks for a recipe file to save (starting from suggested) or to apply;
    // an empty name on cancel. Tests replace it.
    enum class RecipeFileUse { Save, Apply };
    using RecipeFileChooser = std::function<QString(RecipeFileUse use, const QString& suggested)>;
    void setRecipeFileChooser(RecipeFileChooser chooser) { m_chooseRecipeFile = std::move(chooser); }

    // Recipes: what made the displayed picture, saved to a file for
    // plumora-cli, Python and the Dask batch to repeat on other pictures,
    // applied from one, or put on the clipboard as plumora-cli's command.
    void saveRecipeClicked();
    void applyRecipeClicked();
    void copyAsCommandClicked();
    // Applies a recipe file to the open picture; when no picture was opened
    // yet (a recipe opened from a file manager), asks for one first.
    void applyRecipeFile(const std::string& file);

    // Handlers; each comment gives the handler's event name.
    void windowShown();                 // FormShow
    void layOutClientArea();            // FormResize
    void openClicked();                 // SpeedButton1Click
    void revertClicked();               // SpeedButton7Click
    void undoClicked();                 // SpeedButton3Click
    void redoClicked();                 // SpeedButton18Click
    void exitClicked();                 // Exit1Click
    void aboutClicked();                // About1Click
    void onlineClicked();               // Online1Click
    void imageSizeClicked();            // Imagesize1Click
    void zoomInClicked();               // SpeedButton6Click
    void zoomOutClicked();              // SpeedButton5Click
    void rotateClockwiseClicked();      // SpeedButton12Click
    void rotateAnticlockwiseClicked();  // SpeedButton8Click
    void printClicked();                // SpeedButton10Click
    void wallpaperClicked();            // SpeedButton9Click
    void mailClicked();                 // SpeedButton11Click
    void imgzoomin();
    void imgzoomout();
    // "Fit to window" and "Actual size" in the Edit menu.
    void fitToWindowClicked();
    void actualSizeClicked();
    // Compare: while held (the backslash key, or the Compare button), the
    // view shows the source picture instead of the displayed one, at the
    // same zoom and scroll. Each way of holding is told apart, so letting go
    // of one while the other is still held keeps the source on show.
    enum class CompareHold { Key = 1, Button = 2 };
    void holdCompare(CompareHold by, bool held);
    bool comparing() const { return m_compareHeld != 0; }
    void OpenPicture();
    // Opens the named picture as "Open" does after its dialog (the open
    // effect window closes first). A file that gives no picture is told in
    // the same boxes.
    void openNamedPicture(const QString& name);
    // The same for a name in the file system's own bytes, which need not be
    // UTF-8 and are used as they are: from the command line, or dropped on
    // the window.
    void openLocalFile(const std::string& file);
    // Save: writes back to the name saved to last, as that type, without
    // asking; the first time (or after another picture was opened) it is
    // Save As. False when nothing was written.
    bool saveClicked();  // SpeedButton2Click
    // Save As: asks for a name, suggesting one beside the opened picture.
    bool saveAsClicked();
    // "NAME-pen-sketch.jpg" beside the opened file: its name, the last
    // operation's label in lower case with hyphens, the type's extension
    // (the picture's folder and "picture" for the built-in one).
    QString suggestedSaveName() const;
    // The JPEG quality, 1 to 100: 90 until the user chooses another, then
    // that one, in this run and the next.
    int jpegQuality() const { return m_jpegQuality; }
    // The name Save writes back to; empty before the first save.
    const std::string& savedFile() const { return m_savedFile; }
    // Asks where to save and saves there; false when the user cancelled or
    // the file could not be written (that is told).
    bool SavePicture(const TBitmap32& picture);
    // The file the picture was opened from or last saved to, in the file
    // system's own bytes; empty for the built-in picture.
    const std::string& documentFile() const { return m_documentFile; }
    // The colour profile and camera data of the file the picture was opened
    // from (nothing for the built-in picture).
    const PictureMetadata& pictureMetadata() const { return m_metadata; }
    // Before the picture is replaced or the program ends with changes not
    // saved: asks "Save changes to NAME before closing?". True when the
    // picture may go (saved, or the changes discarded); false on "Cancel" or
    // when the save did not happen.
    bool maySetPictureAside();
    void closetool();
    // Every effect menu item: close the open dialog, place this one beside
    // the main window's right edge, show it.
    void openEffectDialog(EffectDialogId id);

    // Controls; each comment gives the control's object name.
    QWidget* toolBar;                        // ControlBar1
    QWidget* mainButtons;                    // Panel4
    QWidget* viewButtons;                    // Panel8
    QToolButton* openButton;                 // SpeedButton1
    QToolButton* saveButton;                 // SpeedButton2
    QToolButton* revertButton;               // SpeedButton7
    QToolButton* undoButton;                 // SpeedButton3
    QToolButton* redoButton;                 // SpeedButton18
    QToolButton* imageSizeButton;            // SpeedButton4
    QToolButton* zoomOutButton;              // SpeedButton5
    QToolButton* zoomInButton;               // SpeedButton6
    QToolButton* colorUpButton;              // Button2
    QLabel* zoomLabel;                       // Label5
    QToolButton* rotateClockwiseButton;      // SpeedButton12
    QToolButton* rotateAnticlockwiseButton;  // SpeedButton8
    QToolButton* wallpaperButton;            // SpeedButton9
    QToolButton* printButton;                // SpeedButton10
    QToolButton* mailButton;                 // SpeedButton11
    QToolButton* compareButton;              // Compare
    QScrollArea* scrollBox;                  // ScrollBox1
    PictureView* pictureView;                // Image1
    PictureView* sourceView;                 // Image2
    QLabel* operationLabel;                  // Label1
    QStatusBar* statusLine;                  // StatusBar1
    QProgressBar* progressBar;               // in the status line while work runs
    QMenuBar* mainMenu;                      // MainMenu1
    QMenu* pictureMenu;                      // PopupMenu1
    QAction* openAction;                     // Open1
    QAction* saveAction;                     // Save1
    QAction* saveAsAction;                   // SaveAs1
    QAction* saveRecipeAction;               // Save Recipe...
    QAction* applyRecipeAction;              // Apply Recipe...
    QAction* copyAsCommandAction;            // Copy as Command
    QAction* exitAction;                     // Exit1
    QAction* undoAction;                     // Undo1
    QAction* redoAction;                     // Redo1
    QAction* imageSizeAction;                // Imagesize1
    QAction* fitToWindowAction;              // Fit to window
    QAction* actualSizeAction;               // Actual size
    QAction* livePreviewAction;              // Live preview
    QAction* onlineAction;                   // Online1
    QAction* aboutAction;                    // About1
    QAction* openNewPictureAction;           // Openanewpicture1
    QAction* pictureImageSizeAction;         // Foregroundsize1

signals:
    // After every change of the document, once this window shows it.
    void documentChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildToolBars();
    void openPictureFile(const std::string& file);
    // Why there is no file to read by that name ("NAME does not exist.",
    // "NAME is a folder."); empty when there is one.
    static QString whyNoFile(const std::string& file);
    void buildMenus();
    // Brings every control in line with the document.
    void refreshFromDocument();
    // What the view shows: the source while Compare is held, else the
    // preview when there is one, else the displayed picture.
    const TBitmap32& shownPicture() const;
    void showPreview();

    // The caption: the program, the document's file name and the mark for
    // changes not saved.
    void showDocumentName();
    // A window this one just opened takes the keyboard, so that its keys
    // (Enter, Esc) work at once without a click into it.
    static void giveKeyboardTo(QWidget* window);
    // After picture was written to file: when it is the displayed picture,
    // the document is that file's now, with nothing left to save.
    void savedAs(const TBitmap32& picture, const std::string& file);
    // The file a save dialog's answer writes, in the file system's bytes: the
    // type the typed extension names, or else the type chosen in the dialog
    // with its extension put on the name. That type is remembered for the
    // next save. A metafile that would be over 50 MB is asked about first;
    // nothing when the user declines.
    std::optional<std::string> nameToSave(const SaveChoice& choice, const TBitmap32& picture);

    std::unique_ptr<Document> m_document;
    // After the document, so that it stops computing before the document goes.
    std::unique_ptr<LivePreview> m_preview;
    std::string m_documentFile;
    std::string m_openedFile;  // the picture's file as opened
    std::string m_savedFile;   // written last, for Save
    int m_jpegQuality = 90;
    // The opened file's colour profile and camera data, written with every
    // save of its picture (whatever was done to it: the picture is always
    // written upright, orientation 1), and whether the last Save As asked to
    // keep the location, which Save to the same name keeps.
    PictureMetadata m_metadata;
    bool m_keepLocation = false;
    // Writes the picture to name by its extension (JPEG at the quality).
    void writePicture(const TBitmap32& picture, const std::string& name);
    RecentFiles* m_recentFiles = nullptr;
    BusyWork* m_busyWork = nullptr;
    QWidget* m_client = nullptr;
    // By dialog number; [0], for no dialog, stays empty.
    std::vector<EffectDialog*> m_dialogs = std::vector<EffectDialog*>(effectWindows().size() + 1);
    std::vector<QAction*> m_effectActions = std::vector<QAction*>(effectWindows().size() + 1);
    QWidget* m_about = nullptr;
    std::unique_ptr<FreehandWorkArea> m_freehandWorkArea;
    std::unique_ptr<FreehandControl> m_freehandControl;
    QWidget* m_imageSize = nullptr;
    // Panning the picture with the right mouse button.
    bool pictureMousePressed(QMouseEvent* event);   // Image1MouseDown
    bool pictureMouseMoved(QMouseEvent* event);     // Image1MouseMove
    bool pictureMouseReleased(QMouseEvent* event);  // Image1MouseUp
    // The wheel over the picture area zooms instead of scrolling.
    bool wheelTurned(QObject* receiver, QEvent* event);  // AppMessage
    // Zooms by the given step keeping the picture point at viewportPoint (in
    // the scrolling area's viewport) where it is on screen, as far as the
    // scroll range allows.
    void zoomAbout(QPoint viewportPoint, const std::function<void()>& zoom);
    // The backslash key held down and let go, wherever it is typed in this
    // window or an effect window (except into a text box).
    bool compareKey(QObject* receiver, QEvent* event);

    int m_compareHeld = 0;          // CompareHold bits
    quint32 m_compareScanCode = 0;  // of the key held for Compare
    int m_ctrlWheelRest = 0;        // wheel turn not yet worth a zoom step
    bool m_dragging = false;
    bool m_noPan = true;
    QPoint m_pressAt;
    QPoint m_scrollAtPress;
    std::function<QString()> m_chooseOpenFile;
    SaveFileChooser m_chooseSaveFile;
    std::function<bool(QPrinter&)> m_choosePrinter;
    RecipeFileChooser m_chooseRecipeFile;
    int m_saveFilterIndex = 1;  // the type chosen last, JPEG the first time
    QString m_openFolder;
    QString m_saveFolder;
    // Where each effect window was put when it opened, and where the user
    // left the ones moved since; by dialog number.
    std::vector<std::optional<QPoint>> m_dialogPlacedAt =
        std::vector<std::optional<QPoint>>(effectWindows().size() + 1);
    std::vector<std::optional<QPoint>> m_dialogLeftAt = std::vector<std::optional<QPoint>>(effectWindows().size() + 1);
    void rememberDialogPlace(EffectDialog* dialog);
};

}  // namespace plumora
