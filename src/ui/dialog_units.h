// Geometry of the dialog templates: dialog units turned into pixels with the
// metrics of the dialog font, so the pages keep their arrangement at any font size.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace stb {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  // Base units in pixels: the average width of the alphabet and the font height.
  DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

  int X(int du) const;  // horizontal: du * baseX / 4, rounded
  int Y(int du) const;  // vertical: du * baseY / 8, rounded
  QRect Rect(int x, int y, int width, int height) const;
  int BaseX() const { return baseX_; }
  int BaseY() const { return baseY_; }

 private:
  int baseX_;
  int baseY_;
};

// The font the pages' templates are laid out in.
QFont DialogFont();

// The identifier of a control from the templates, kept as the widget's key.
void SetControlId(QWidget* widget, int id);
int ControlId(const QWidget* widget);
// The first descendant of root with that identifier, or null.
QWidget* FindControl(const QWidget* root, int id);
template <typename T>
T* FindControlAs(const QWidget* root, int id) {
  return qobject_cast<T*>(FindControl(root, id));
}

}  // namespace stb
