#include "ui/artwork.h"

#include <QBitmap>
#include <QLabel>
#include <QString>

// Q_INIT_RESOURCE declares its function in the global namespace.
static void InitWizardResources() {
  Q_INIT_RESOURCE(wizard);
}

namespace stb {

namespace {
void EnsureResources() {
  // The resources live in a static library: register them before the first use.
  static const bool registered = [] {
    InitWizardResources();
    return true;
  }();
  (void)registered;
}
}  // namespace

QPixmap PagePicture(int bitmapId) {
  if (bitmapId != kBitmapSelect && bitmapId != kBitmapProcess && bitmapId != kBitmapConnect) {
    return QPixmap();
  }
  EnsureResources();
  return QPixmap(QStringLiteral(":/stb/bitmap_%1.png").arg(bitmapId));
}

QIcon RowPicture(int index) {
  EnsureResources();
  QPixmap strip(QStringLiteral(":/stb/bitmap_133.png"));
  if (strip.isNull() || index < 0 || index > 1) return QIcon();
  QPixmap cell = strip.copy(index * 16, 0, 16, 16);
  cell.setMask(cell.createMaskFromColor(QColor(0, 255, 0), Qt::MaskInColor));
  return QIcon(cell);
}

QWidget* CreatePictureControl(int bitmapId, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setPixmap(PagePicture(bitmapId));
  picture->setScaledContents(true);
  return picture;
}

}  // namespace stb
