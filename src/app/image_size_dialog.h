#pragma once

#include <QSize>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace plumora {

class Document;

// "Image_size": a new width and height in pixels for both pictures,
// optionally keeping the proportions while typing. Recorded as a history
// step like an effect.
class ImageSizeDialog : public QWidget {
    Q_OBJECT
public:
    ImageSizeDialog(Document& document, QWidget* mainWindow);

    // Controls; each comment gives the control's object name.
    QLabel* widthLabel;             // Label1
    QLineEdit* widthEdit;           // Edit1
    QLabel* widthUnitLabel;         // Label3
    QLabel* heightLabel;            // Label2
    QLineEdit* heightEdit;          // Edit2
    QLabel* heightUnitLabel;        // Label4
    QCheckBox* keepProportionsBox;  // CheckBox1
    QToolButton* shrinkButton;      // SpeedButton1, "-"
    QToolButton* enlargeButton;     // SpeedButton2, "+"
    QPushButton* okButton;          // Button1
    QPushButton* cancelButton;      // Button2

    // Handlers; each comment gives the handler's event name.
    void windowShown();     // FormShow
    void shrinkClicked();   // SpeedButton1Click
    void enlargeClicked();  // SpeedButton2Click
    void widthTyped();      // Edit1KeyUp
    void heightTyped();     // Edit2KeyUp
    void okClicked();       // Button1Click
    void cancelClicked();   // Button2Click
    // The document changed while the window may be open: a picture of
    // another size (another one opened, a turn, an undo) puts its size in
    // the fields, as showing the window does. One of the same size leaves
    // them, and whatever the user typed, alone.
    void documentChanged();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Document& m_document;
    QSize m_shownSize;  // of the picture the fields were filled from
};

}  // namespace plumora
