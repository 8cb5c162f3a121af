#pragma once

namespace plumora {

// The square the colour filter and colour variety windows show their
// previews in, and where a preview control sits inside it.
inline constexpr int kPreviewFrameSize = 105;

struct PreviewPlace {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PreviewPlace&, const PreviewPlace&) = default;
};

// DisplayImage: where a control that stretches a width x height picture goes
// to show it in the 105-pixel square, keeping its shape. A picture wider than
// high (width / height > 1) gets the full width and a height of
// a = MulDiv(105, height, width), a + 2 high, at left 2 and top
// (105 - a) div 2 + 2; any other picture the full height and a width of
// a = MulDiv(105, width, height) in the same way. 200 x 100 gives left 2,
// top 28, 105 x 55; a square gives left 2, top 2, 107 x 105.
//
// No size divides by zero: a picture 0 high (and wider) lands in the first
// case with a = 0, one 0 wide in the second with a = 0, and a picture with no
// pixels at all (0 x 0) is taken as 0 wide. Negative sizes count as 0.
PreviewPlace DisplayImage(int pictureWidth, int pictureHeight);

}  // namespace plumora
