#pragma once

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
class TImage_size : public QWidget {
    Q_OBJECT
public:
    TImage_size(Document& document, QWidget* mainWindow);

    QLabel* Label1;
    QLineEdit* Edit1;
    QLabel* Label3;
    QLabel* Label2;
    QLineEdit* Edit2;
    QLabel* Label4;
    QCheckBox* CheckBox1;
    QToolButton* SpeedButton1;  // "-"
    QToolButton* SpeedButton2;  // "+"
    QPushButton* Button1;       // "OK"
    QPushButton* Button2;       // "Cancel"

    void FormShow();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void Edit1KeyUp();
    void Edit2KeyUp();
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Document& m_document;
};

}  // namespace plumora
