// The wizard's pictures, compiled in as Qt resources.
#pragma once

#include <QIcon>
#include <QPixmap>

class QWidget;

namespace stb {

inline constexpr int kBitmapSelect = 129;
inline constexpr int kBitmapProcess = 130;
inline constexpr int kBitmapConnect = 131;
inline constexpr int kBitmapRowPictures = 133;

// Bitmap 129, 130 or 131 (161 x 313); a null pixmap for any other number.
QPixmap PagePicture(int bitmapId);
// Picture 0 (no file) or 1 (file chosen) of bitmap 133, pure green made transparent.
QIcon RowPicture(int index);

// A picture control: shows a page picture scaled into its rectangle.
QWidget* CreatePictureControl(int bitmapId, QWidget* parent);

}  // namespace stb
