// Draws the wizard's pictures once; the PNGs are committed and compiled in as Qt
// resources. Run: stb_ui_draw_artwork OUTDIR (QT_QPA_PLATFORM=offscreen).
//   bitmap_131.png  connect page, 161 x 313: dish, box, serial plug
//   bitmap_129.png  select page, 161 x 313: flash chunks and a file
//   bitmap_130.png  process page, 161 x 313: flash chip and progress ring
//   bitmap_133.png  row pictures, 32 x 16, pure green transparent
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

constexpr int kWidth = 161;
constexpr int kHeight = 313;

void Background(QPainter& p, int step) {
  QLinearGradient g(0, 0, 0, kHeight);
  g.setColorAt(0.0, QColor(0x0d, 0x1f, 0x3c));
  g.setColorAt(0.55, QColor(0x12, 0x3a, 0x5e));
  g.setColorAt(1.0, QColor(0x0f, 0x5c, 0x6e));
  p.fillRect(0, 0, kWidth, kHeight, g);
  // A faint circuit grid.
  p.setPen(QPen(QColor(255, 255, 255, 14), 1));
  for (int x = 8; x < kWidth; x += 16) p.drawLine(x, 0, x, kHeight);
  for (int y = 8; y < kHeight; y += 16) p.drawLine(0, y, kWidth, y);
  // The left edge meets the page: a thin bright line.
  p.fillRect(0, 0, 2, kHeight, QColor(0x4f, 0xc3, 0xd9));
  // Step marks: three dots, the current one lit.
  for (int i = 0; i < 3; ++i) {
    const QPointF c(kWidth / 2.0 - 22 + i * 22, kHeight - 20);
    p.setPen(QPen(QColor(0x9f, 0xe6, 0xf2), 1.5));
    p.setBrush(i == step ? QColor(0x9f, 0xe6, 0xf2) : QColor(0, 0, 0, 0));
    p.drawEllipse(c, 4.5, 4.5);
  }
}

void SetTopBox(QPainter& p, const QRectF& r) {
  QLinearGradient body(r.topLeft(), r.bottomLeft());
  body.setColorAt(0, QColor(0x3a, 0x40, 0x48));
  body.setColorAt(1, QColor(0x16, 0x19, 0x1e));
  p.setPen(QPen(QColor(0x8a, 0x94, 0xa0), 1));
  p.setBrush(body);
  p.drawRoundedRect(r, 4, 4);
  // Display window with a glowing readout.
  const QRectF display(r.left() + 10, r.top() + r.height() / 2 - 6, 40, 12);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x05, 0x12, 0x10));
  p.drawRoundedRect(display, 2, 2);
  p.setBrush(QColor(0x3d, 0xf5, 0x9a));
  for (int i = 0; i < 4; ++i)
    p.drawRect(QRectF(display.left() + 5 + i * 8.5, display.top() + 4, 5, 4));
  // Power LED and two buttons.
  QRadialGradient led(QPointF(r.right() - 14, r.center().y()), 5);
  led.setColorAt(0, QColor(0xff, 0xe0, 0x60));
  led.setColorAt(1, QColor(0xff, 0x90, 0x20, 0));
  p.setBrush(led);
  p.drawEllipse(QPointF(r.right() - 14, r.center().y()), 5, 5);
  p.setBrush(QColor(0x60, 0x68, 0x72));
  p.drawRoundedRect(QRectF(r.right() - 40, r.center().y() - 3, 8, 6), 1.5, 1.5);
  p.drawRoundedRect(QRectF(r.right() - 29, r.center().y() - 3, 8, 6), 1.5, 1.5);
}

void Dish(QPainter& p, const QPointF& at) {
  p.save();
  p.translate(at);
  p.rotate(-28);
  QLinearGradient g(-30, 0, 30, 0);
  g.setColorAt(0, QColor(0xd8, 0xe2, 0xea));
  g.setColorAt(1, QColor(0x8a, 0x9a, 0xaa));
  p.setPen(QPen(QColor(0xf0, 0xf6, 0xfa), 1));
  p.setBrush(g);
  QPainterPath bowl;
  bowl.moveTo(-32, 0);
  bowl.cubicTo(-30, 30, 30, 30, 32, 0);
  bowl.closeSubpath();
  p.drawPath(bowl);
  p.setPen(QPen(QColor(0xc8, 0xd4, 0xde), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(0, 18), QPointF(0, -26));
  p.setBrush(QColor(0x4f, 0xc3, 0xd9));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(-4, -33, 8, 9), 2, 2);
  p.restore();
  // Signal arcs from the sky.
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 3; ++i) {
    p.setPen(QPen(QColor(0x9f, 0xe6, 0xf2, 200 - i * 55), 2, Qt::SolidLine, Qt::RoundCap));
    const double radius = 10 + i * 9;
    p.drawArc(QRectF(at.x() + 34 - radius, at.y() - 56 - radius, 2 * radius, 2 * radius), 200 * 16,
              70 * 16);
  }
}

void SerialPlug(QPainter& p, const QPointF& center) {
  QPainterPath shell;
  shell.moveTo(center.x() - 30, center.y() - 12);
  shell.lineTo(center.x() + 30, center.y() - 12);
  shell.lineTo(center.x() + 24, center.y() + 12);
  shell.lineTo(center.x() - 24, center.y() + 12);
  shell.closeSubpath();
  p.setPen(QPen(QColor(0xe0, 0xe8, 0xee), 1.2));
  QLinearGradient g(center.x(), center.y() - 12, center.x(), center.y() + 12);
  g.setColorAt(0, QColor(0xb8, 0xc4, 0xce));
  g.setColorAt(1, QColor(0x6a, 0x78, 0x86));
  p.setBrush(g);
  p.drawPath(shell);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1a, 0x22, 0x2c));
  for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(center.x() - 18 + i * 9, center.y() - 4), 2, 2);
  for (int i = 0; i < 4; ++i)
    p.drawEllipse(QPointF(center.x() - 13.5 + i * 9, center.y() + 5), 2, 2);
}

QImage ConnectPicture() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  Background(p, 0);
  Dish(p, QPointF(74, 82));
  // Coax from the dish down to the box.
  p.setPen(QPen(QColor(0x2b, 0x2f, 0x36), 3, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  QPainterPath coax;
  coax.moveTo(74, 100);
  coax.cubicTo(60, 130, 120, 130, 110, 158);
  p.drawPath(coax);
  SetTopBox(p, QRectF(16, 158, 130, 40));
  // Serial cable from the box to the plug.
  p.setPen(QPen(QColor(0x4f, 0xc3, 0xd9), 3.2, Qt::SolidLine, Qt::RoundCap));
  QPainterPath cable;
  cable.moveTo(40, 198);
  cable.cubicTo(40, 232, 90, 214, 81, 246);
  p.drawPath(cable);
  SerialPlug(p, QPointF(81, 258));
  return image;
}

QImage SelectPicture() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  Background(p, 1);
  // The flash as a column of chunks.
  const QRectF flash(50, 40, 62, 200);
  p.setPen(QPen(QColor(0xa8, 0xb8, 0xc8), 1.2));
  p.setBrush(QColor(0x0a, 0x14, 0x22));
  p.drawRoundedRect(flash.adjusted(-5, -5, 5, 5), 5, 5);
  const struct {
    double height;
    QColor color;
  } chunks[] = {{26, QColor(0xe0, 0x6c, 0x4a)}, {58, QColor(0x4f, 0x8f, 0xd9)},
                {22, QColor(0x8f, 0xc9, 0x5a)}, {22, QColor(0x8f, 0xc9, 0x5a)},
                {30, QColor(0xd9, 0xb4, 0x4f)}, {34, QColor(0x9a, 0x7f, 0xd9)}};
  double y = flash.top();
  int index = 0;
  for (const auto& c : chunks) {
    QRectF r(flash.left(), y, flash.width(), c.height - 3);
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0, c.color.lighter(118));
    g.setColorAt(1, c.color.darker(125));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, 2, 2);
    if (index == 2) {  // the chunk that takes the file
      p.setPen(QPen(QColor(0xff, 0xff, 0xff), 2));
      p.setBrush(Qt::NoBrush);
      p.drawRoundedRect(r.adjusted(-2, -2, 2, 2), 3, 3);
    }
    y += c.height;
    ++index;
  }
  // A file sliding into the marked chunk.
  const QRectF doc(100, 252, 30, 38);
  QPainterPath page;
  page.moveTo(doc.topLeft());
  page.lineTo(doc.right() - 9, doc.top());
  page.lineTo(doc.right(), doc.top() + 9);
  page.lineTo(doc.bottomRight());
  page.lineTo(doc.bottomLeft());
  page.closeSubpath();
  p.setPen(QPen(QColor(0x30, 0x40, 0x50), 1));
  p.setBrush(QColor(0xf4, 0xf7, 0xfa));
  p.drawPath(page);
  p.setPen(QPen(QColor(0x9a, 0xa8, 0xb6), 1.5));
  for (int i = 0; i < 4; ++i)
    p.drawLine(QPointF(doc.left() + 5, doc.top() + 15 + i * 6),
               QPointF(doc.right() - 5, doc.top() + 15 + i * 6));
  p.setPen(QPen(QColor(0x9f, 0xe6, 0xf2), 2.4, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  QPainterPath arrow;
  arrow.moveTo(112, 250);
  arrow.cubicTo(136, 210, 140, 140, 118, 128);
  p.drawPath(arrow);
  p.drawLine(QPointF(118, 128), QPointF(128, 126));
  p.drawLine(QPointF(118, 128), QPointF(123, 137));
  return image;
}

QImage ProcessPicture() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  Background(p, 2);
  const QPointF c(80, 130);
  // Progress ring, about two thirds done.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(255, 255, 255, 40), 9));
  p.drawEllipse(c, 56, 56);
  QConicalGradient ring(c, 90);
  ring.setColorAt(0.0, QColor(0x3d, 0xf5, 0x9a));
  ring.setColorAt(0.66, QColor(0x4f, 0xc3, 0xd9));
  p.setPen(QPen(QBrush(ring), 9, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(QRectF(c.x() - 56, c.y() - 56, 112, 112), 90 * 16, -240 * 16);
  // Flash chip with pins.
  const QRectF chip(c.x() - 26, c.y() - 26, 52, 52);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xb8, 0xc4, 0xce));
  for (int i = 0; i < 5; ++i) {
    const double off = chip.top() + 6 + i * 10;
    p.drawRect(QRectF(chip.left() - 7, off, 7, 4));
    p.drawRect(QRectF(chip.right(), off, 7, 4));
  }
  QLinearGradient body(chip.topLeft(), chip.bottomRight());
  body.setColorAt(0, QColor(0x2a, 0x30, 0x38));
  body.setColorAt(1, QColor(0x0c, 0x0e, 0x12));
  p.setBrush(body);
  p.setPen(QPen(QColor(0x5a, 0x64, 0x70), 1));
  p.drawRoundedRect(chip, 3, 3);
  p.setBrush(QColor(0x5a, 0x64, 0x70));
  p.drawEllipse(QPointF(chip.left() + 8, chip.top() + 8), 2.5, 2.5);
  // A bolt: the burn.
  QPainterPath bolt;
  bolt.moveTo(c.x() + 4, c.y() - 18);
  bolt.lineTo(c.x() - 10, c.y() + 3);
  bolt.lineTo(c.x() - 1, c.y() + 3);
  bolt.lineTo(c.x() - 5, c.y() + 19);
  bolt.lineTo(c.x() + 10, c.y() - 3);
  bolt.lineTo(c.x() + 1, c.y() - 3);
  bolt.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xff, 0xd0, 0x4a));
  p.drawPath(bolt);
  // Data packets streaming in from below.
  for (int i = 0; i < 6; ++i) {
    const double y = 262 - i * 13;
    const int alpha = 230 - i * 32;
    p.setBrush(QColor(0x4f, 0xc3, 0xd9, alpha));
    p.drawRoundedRect(QRectF(c.x() - 9 + (i % 2 ? 6 : -6), y, 18, 8), 2, 2);
  }
  return image;
}

// Draws on a transparent 16 x 16 cell, then keys the background to pure green:
// the list's pictures are drawn with green as the transparent colour.
QImage KeyedToGreen(const QImage& drawn) {
  QImage out(drawn.size(), QImage::Format_RGB32);
  for (int y = 0; y < drawn.height(); ++y)
    for (int x = 0; x < drawn.width(); ++x) {
      const QColor c = drawn.pixelColor(x, y);
      out.setPixelColor(x, y,
                        c.alpha() < 110 ? QColor(0, 255, 0) : QColor(c.red(), c.green(), c.blue()));
    }
  return out;
}

QImage RowPictures() {
  QImage cells(32, 16, QImage::Format_ARGB32);
  cells.fill(Qt::transparent);
  QPainter p(&cells);
  p.setRenderHint(QPainter::Antialiasing);
  // Picture 0: a grey document, nothing chosen.
  QPainterPath doc;
  doc.moveTo(3.5, 1.5);
  doc.lineTo(9.5, 1.5);
  doc.lineTo(12.5, 4.5);
  doc.lineTo(12.5, 14.5);
  doc.lineTo(3.5, 14.5);
  doc.closeSubpath();
  p.setPen(QPen(QColor(0x70, 0x74, 0x78), 1));
  p.setBrush(QColor(0xe4, 0xe6, 0xe8));
  p.drawPath(doc);
  p.setPen(QPen(QColor(0x9c, 0xa0, 0xa4), 1));
  for (int i = 0; i < 3; ++i) p.drawLine(QPointF(5.5, 7.5 + i * 2.5), QPointF(10.5, 7.5 + i * 2.5));
  // Picture 1: a box with a check mark, a file chosen.
  p.translate(16, 0);
  p.setPen(QPen(QColor(0x1c, 0x3a, 0x5c), 1));
  p.setBrush(QColor(0x4f, 0x8f, 0xd9));
  p.drawRoundedRect(QRectF(1.5, 3.5, 13, 11), 1.5, 1.5);
  p.setPen(QPen(QColor(0x2a, 0x5a, 0x94), 1));
  p.drawLine(QPointF(1.5, 6.5), QPointF(14.5, 6.5));
  p.setPen(QPen(QColor(0xff, 0xff, 0xff), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  QPainterPath check;
  check.moveTo(4.5, 10);
  check.lineTo(7, 12.5);
  check.lineTo(12, 7.5);
  p.drawPath(check);
  p.end();
  return KeyedToGreen(cells);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  const bool ok = ConnectPicture().save(out.filePath("bitmap_131.png")) &&
                  SelectPicture().save(out.filePath("bitmap_129.png")) &&
                  ProcessPicture().save(out.filePath("bitmap_130.png")) &&
                  RowPictures().save(out.filePath("bitmap_133.png"));
  if (!ok) std::fprintf(stderr, "could not write the pictures\n");
  return ok ? 0 : 1;
}
