#pragma once

namespace plumora {

// Where a picture lands on a printed page, in the printer's device pixels.
struct PrintRectangle {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PrintRectangle&, const PrintRectangle&) = default;
};

// The picture is doubled while both sides are below half the page's, never
// reduced, and centred (div truncating toward zero), so a picture larger than
// the page gets a negative left or top and is cut by the page edges.
inline PrintRectangle printRectangle(int pictureWidth, int pictureHeight, int pageWidth, int pageHeight)
{
    long long w = pictureWidth;
    long long h = pictureHeight;
    // The sides stop growing at a little over the page, so this ends.
    while (w > 0 && h > 0 && h < pageHeight / 2 && w < pageWidth / 2) {
        h *= 2;
        w *= 2;
    }
    return {int((pageWidth - w) / 2), int((pageHeight - h) / 2), int(w), int(h)};
}

}  // namespace plumora
