#pragma once

#include <QPixmap>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

namespace plumora {

class TBitmap32;
class DisplayTransform;

// A picture control: shows a TBitmap32 stretched to the control's own size,
// drawing only the part that needs painting. The picture is wrapped, not
// copied; the owner keeps it alive and calls update() when it changes.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);
    void setPicture(const TBitmap32* picture);
    const TBitmap32* picture() const { return m_picture; }
    // The colour profile of the picture's values (empty: sRGB). What is
    // painted is converted from it to sRGB; the picture itself never is.
    void setColourProfile(const std::vector<std::uint8_t>& icc);

    // While one lives, the view paints what it shows now, from a copy of its
    // visible part, and never reads the picture: for work that rewrites the
    // picture's pixels in place while the windows keep painting.
    class StillFrame {
    public:
        explicit StillFrame(PictureView& view);
        ~StillFrame();
        StillFrame(const StillFrame&) = delete;
        StillFrame& operator=(const StillFrame&) = delete;

    private:
        PictureView& m_view;
    };

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap32* m_picture = nullptr;
    std::shared_ptr<const DisplayTransform> m_toScreen;  // nothing: shown as it is
    QPixmap m_still;                                     // while a StillFrame lives
    QRect m_stillRect;
    bool m_holding = false;
};

}  // namespace plumora
