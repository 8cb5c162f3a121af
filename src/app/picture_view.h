#pragma once

#include <QWidget>

namespace plumora {

class TBitmap32;

// A picture control: shows a TBitmap32 stretched to the control's own size,
// drawing only the part that needs painting. The picture is wrapped, not
// copied; the owner keeps it alive and calls update() when it changes.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);
    void setPicture(const TBitmap32* picture);
    const TBitmap32* picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap32* m_picture = nullptr;
};

}  // namespace plumora
