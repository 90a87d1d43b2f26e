// Draws the skin of the main program: the main window background and its
// shape, the logos, every two-state button bitmap and RGB.txt. Everything is
// drawn from one palette and one set of glyphs, so the pictures stay of a
// piece; run at build time with the skin folder as its only argument.
//
//   MakeSkin OUTDIR      writes OUTDIR/*.bmp, OUTDIR/RGB.txt, OUTDIR/en/*.bmp

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cstdio>
#include <functional>

namespace {

// The palette. The window colour is what RGB.txt hands to every child window.
const QColor kWindow(36, 42, 56);
const QColor kPanel(46, 54, 72);
const QColor kPanelLight(62, 72, 94);
const QColor kAccent(38, 152, 230);
const QColor kAccentDark(20, 102, 178);
const QColor kGlyph(205, 214, 232);
const QColor kWarm(242, 128, 52);

constexpr int kMainWidth = 900;
constexpr int kMainHeight = 620;
constexpr int kCorner = 12;

using Glyph = std::function<void(QPainter&, const QRectF&, const QColor&)>;

void Disc(QPainter& p, QPointF c, qreal r, const QColor& colour) {
  QPainterPath ring;
  ring.addEllipse(c, r, r);
  QPainterPath hole;
  hole.addEllipse(c, r * 0.22, r * 0.22);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPath(ring.subtracted(hole));
  p.setBrush(Qt::NoBrush);
  QColor shine = colour.darker(135);
  p.setPen(QPen(shine, std::max<qreal>(1.0, r * 0.08)));
  p.drawArc(QRectF(c.x() - r * 0.62, c.y() - r * 0.62, r * 1.24, r * 1.24), 30 * 16, 60 * 16);
  p.drawArc(QRectF(c.x() - r * 0.62, c.y() - r * 0.62, r * 1.24, r * 1.24), 210 * 16, 60 * 16);
}

void Note(QPainter& p, QPointF at, qreal s, const QColor& colour) {
  p.setPen(QPen(colour, s * 0.11, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(at.x() + s * 0.25, at.y() + s * 0.75), QPointF(at.x() + s * 0.25, at.y() + s * 0.1));
  p.drawLine(QPointF(at.x() + s * 0.25, at.y() + s * 0.1), QPointF(at.x() + s * 0.8, at.y()));
  p.drawLine(QPointF(at.x() + s * 0.8, at.y()), QPointF(at.x() + s * 0.8, at.y() + s * 0.65));
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(QPointF(at.x() + s * 0.14, at.y() + s * 0.78), s * 0.15, s * 0.12);
  p.drawEllipse(QPointF(at.x() + s * 0.69, at.y() + s * 0.68), s * 0.15, s * 0.12);
}

void Folder(QPainter& p, const QRectF& r, const QColor& colour) {
  QPainterPath path;
  path.moveTo(r.left(), r.top() + r.height() * 0.15);
  path.lineTo(r.left() + r.width() * 0.38, r.top() + r.height() * 0.15);
  path.lineTo(r.left() + r.width() * 0.48, r.top() + r.height() * 0.3);
  path.lineTo(r.right(), r.top() + r.height() * 0.3);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPath(path);
}

void Film(QPainter& p, const QRectF& r, const QColor& colour) {
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawRoundedRect(r, r.width() * 0.08, r.width() * 0.08);
  p.setBrush(kWindow);
  qreal hole = r.height() * 0.12;
  for (int i = 0; i < 4; ++i) {
    qreal y = r.top() + r.height() * (0.1 + i * 0.23);
    p.drawRect(QRectF(r.left() + hole * 0.5, y, hole, hole));
    p.drawRect(QRectF(r.right() - hole * 1.5, y, hole, hole));
  }
  p.drawRect(QRectF(r.left() + hole * 2.2, r.top() + r.height() * 0.12, r.width() - hole * 4.4, r.height() * 0.34));
  p.drawRect(QRectF(r.left() + hole * 2.2, r.top() + r.height() * 0.54, r.width() - hole * 4.4, r.height() * 0.34));
}

void Magnifier(QPainter& p, QPointF c, qreal r, const QColor& colour) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(colour, r * 0.28, Qt::SolidLine, Qt::RoundCap));
  p.drawEllipse(c, r, r);
  p.drawLine(QPointF(c.x() + r * 0.75, c.y() + r * 0.75), QPointF(c.x() + r * 1.7, c.y() + r * 1.7));
}

void Stroke(QPainter& p, const QColor& colour, qreal width) {
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
}

// The glyphs of the toolbar and mode buttons, each drawn into `r`.
Glyph GlyphFor(const QString& name) {
  if (name == "AudioCD")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Disc(p, QPointF(r.center().x() - r.width() * 0.08, r.center().y()), r.height() * 0.45, c);
      Note(p, QPointF(r.right() - r.width() * 0.38, r.top() + r.height() * 0.45), r.height() * 0.5, kWarm);
    };
  if (name == "DataCD")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Disc(p, QPointF(r.center().x() - r.width() * 0.08, r.center().y()), r.height() * 0.45, c);
      Folder(p, QRectF(r.right() - r.width() * 0.42, r.top() + r.height() * 0.5, r.width() * 0.4, r.height() * 0.42), kWarm);
    };
  if (name == "Mp3")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Note(p, QPointF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.1), r.height() * 0.8, c);
    };
  if (name == "Video")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Film(p, QRectF(r.left() + r.width() * 0.2, r.top() + r.height() * 0.08, r.width() * 0.6, r.height() * 0.84), c);
    };
  if (name == "Copy")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Disc(p, QPointF(r.center().x() - r.width() * 0.14, r.center().y() - r.height() * 0.1), r.height() * 0.36, c.darker(125));
      Disc(p, QPointF(r.center().x() + r.width() * 0.12, r.center().y() + r.height() * 0.12), r.height() * 0.36, c);
    };
  if (name == "Analyse")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Disc(p, QPointF(r.center().x() - r.width() * 0.08, r.center().y() - r.height() * 0.05), r.height() * 0.42, c);
      Magnifier(p, QPointF(r.center().x() + r.width() * 0.12, r.center().y() + r.height() * 0.08), r.height() * 0.16, kWarm);
    };
  if (name == "Refresh")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Stroke(p, c, r.width() * 0.1);
      QRectF a = r.adjusted(r.width() * 0.22, r.height() * 0.22, -r.width() * 0.22, -r.height() * 0.22);
      p.drawArc(a, 60 * 16, 280 * 16);
      QPointF tip(a.center().x() + a.width() * 0.25, a.top() + a.height() * 0.07);
      p.drawLine(tip, tip + QPointF(-r.width() * 0.16, -r.height() * 0.08));
      p.drawLine(tip, tip + QPointF(-r.width() * 0.04, r.height() * 0.16));
    };
  if (name == "Save")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      QRectF b = r.adjusted(r.width() * 0.22, r.height() * 0.2, -r.width() * 0.22, -r.height() * 0.2);
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawRoundedRect(b, 2, 2);
      p.setBrush(kWindow);
      p.drawRect(QRectF(b.left() + b.width() * 0.22, b.top(), b.width() * 0.5, b.height() * 0.32));
      p.drawRoundedRect(QRectF(b.left() + b.width() * 0.18, b.top() + b.height() * 0.52, b.width() * 0.64, b.height() * 0.36), 1, 1);
    };
  if (name == "Add")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Stroke(p, c, r.width() * 0.12);
      p.drawLine(QPointF(r.center().x(), r.top() + r.height() * 0.24), QPointF(r.center().x(), r.bottom() - r.height() * 0.24));
      p.drawLine(QPointF(r.left() + r.width() * 0.24, r.center().y()), QPointF(r.right() - r.width() * 0.24, r.center().y()));
    };
  if (name == "Open")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Folder(p, r.adjusted(r.width() * 0.2, r.height() * 0.22, -r.width() * 0.2, -r.height() * 0.22), c);
    };
  if (name == "New")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      QRectF b = r.adjusted(r.width() * 0.27, r.height() * 0.18, -r.width() * 0.27, -r.height() * 0.18);
      QPainterPath page;
      page.moveTo(b.topLeft());
      page.lineTo(b.right() - b.width() * 0.35, b.top());
      page.lineTo(b.right(), b.top() + b.width() * 0.35);
      page.lineTo(b.bottomRight());
      page.lineTo(b.bottomLeft());
      page.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawPath(page);
    };
  if (name == "Burn")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      (void)c;
      QPainterPath flame;
      qreal cx = r.center().x(), w = r.width() * 0.26;
      flame.moveTo(cx, r.top() + r.height() * 0.14);
      flame.cubicTo(cx + w * 1.5, r.top() + r.height() * 0.45, cx + w, r.bottom() - r.height() * 0.12, cx, r.bottom() - r.height() * 0.14);
      flame.cubicTo(cx - w, r.bottom() - r.height() * 0.12, cx - w * 1.5, r.top() + r.height() * 0.5, cx - w * 0.3, r.top() + r.height() * 0.34);
      flame.cubicTo(cx - w * 0.2, r.top() + r.height() * 0.48, cx, r.top() + r.height() * 0.3, cx, r.top() + r.height() * 0.14);
      QLinearGradient g(r.topLeft(), r.bottomLeft());
      g.setColorAt(0, QColor(255, 204, 64));
      g.setColorAt(1, kWarm);
      p.setPen(Qt::NoPen);
      p.setBrush(g);
      p.drawPath(flame);
    };
  if (name == "DiscInfo")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Disc(p, r.center(), r.height() * 0.32, c);
    };
  if (name == "Sector")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      qreal s = r.width() * 0.15;
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
          p.drawRect(QRectF(r.left() + r.width() * 0.25 + x * s * 1.15, r.top() + r.height() * 0.25 + y * s * 1.15, s, s));
    };
  if (name == "Check")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      // A read-speed line over the disc with one red band where it failed.
      const QRectF b = r.adjusted(r.width() * 0.2, r.height() * 0.22, -r.width() * 0.2, -r.height() * 0.22);
      p.fillRect(QRectF(b.left() + b.width() * 0.58, b.top(), b.width() * 0.14, b.height()), QColor(224, 48, 48));
      p.setPen(QPen(c, 1.6));
      p.drawLine(b.bottomLeft(), b.bottomRight());
      p.drawLine(b.bottomLeft(), b.topLeft());
      QPainterPath line(QPointF(b.left(), b.bottom() - b.height() * 0.3));
      line.cubicTo(QPointF(b.left() + b.width() * 0.4, b.bottom() - b.height() * 0.5),
                   QPointF(b.left() + b.width() * 0.7, b.top() + b.height() * 0.3), b.topRight());
      p.setPen(QPen(kAccent, 2));
      p.setBrush(Qt::NoBrush);
      p.drawPath(line);
    };
  if (name == "Device")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      QRectF b = r.adjusted(r.width() * 0.18, r.height() * 0.34, -r.width() * 0.18, -r.height() * 0.34);
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawRoundedRect(b, 2, 2);
      p.setBrush(kWindow);
      p.drawRect(QRectF(b.left() + b.width() * 0.1, b.center().y() - 1, b.width() * 0.5, 2));
      p.setBrush(kAccent);
      p.drawEllipse(QPointF(b.right() - b.width() * 0.15, b.center().y()), 1.6, 1.6);
    };
  if (name == "Erase")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      p.save();
      p.translate(r.center());
      p.rotate(-35);
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawRoundedRect(QRectF(-r.width() * 0.28, -r.height() * 0.13, r.width() * 0.56, r.height() * 0.26), 2, 2);
      p.setBrush(kWarm);
      p.drawRoundedRect(QRectF(-r.width() * 0.28, -r.height() * 0.13, r.width() * 0.2, r.height() * 0.26), 2, 2);
      p.restore();
    };
  if (name == "Eject")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      QPainterPath tri;
      tri.moveTo(r.center().x(), r.top() + r.height() * 0.24);
      tri.lineTo(r.right() - r.width() * 0.24, r.top() + r.height() * 0.56);
      tri.lineTo(r.left() + r.width() * 0.24, r.top() + r.height() * 0.56);
      tri.closeSubpath();
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawPath(tri);
      p.drawRect(QRectF(r.left() + r.width() * 0.24, r.top() + r.height() * 0.64, r.width() * 0.52, r.height() * 0.1));
    };
  if (name == "CloseDisc")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Disc(p, QPointF(r.center().x() - r.width() * 0.06, r.center().y() - r.height() * 0.04), r.height() * 0.3, c);
      p.setPen(Qt::NoPen);
      p.setBrush(kWarm);
      p.drawRoundedRect(QRectF(r.center().x() + r.width() * 0.06, r.center().y() + r.height() * 0.04, r.width() * 0.22, r.height() * 0.18), 1.5, 1.5);
    };
  if (name == "Help")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      QFont f("DejaVu Sans");
      f.setPixelSize(int(r.height() * 0.55));
      f.setBold(true);
      p.setFont(f);
      p.setPen(c);
      p.drawText(r, Qt::AlignCenter, "?");
    };
  if (name == "Clock")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Stroke(p, c, r.width() * 0.08);
      p.drawEllipse(r.center(), r.width() * 0.26, r.width() * 0.26);
      p.drawLine(r.center(), r.center() + QPointF(0, -r.height() * 0.16));
      p.drawLine(r.center(), r.center() + QPointF(r.width() * 0.12, 0));
    };
  if (name == "Palette")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      p.setPen(Qt::NoPen);
      p.setBrush(c);
      p.drawEllipse(r.adjusted(r.width() * 0.15, r.height() * 0.15, -r.width() * 0.15, -r.height() * 0.15));
      const QColor dots[] = {kAccent, kWarm, QColor(96, 200, 120)};
      for (int i = 0; i < 3; ++i)
        { p.setBrush(dots[i]); p.drawEllipse(QPointF(r.left() + r.width() * (0.35 + 0.15 * i), r.top() + r.height() * (0.4 + 0.08 * (i % 2))), r.width() * 0.07, r.width() * 0.07); }
    };
  if (name == "Minimise")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Stroke(p, c, 2);
      p.drawLine(QPointF(r.left() + r.width() * 0.3, r.center().y() + 3), QPointF(r.right() - r.width() * 0.3, r.center().y() + 3));
    };
  if (name == "Close")
    return [](QPainter& p, const QRectF& r, const QColor& c) {
      Stroke(p, c, 2);
      qreal d = r.width() * 0.2;
      p.drawLine(r.center() + QPointF(-d, -d), r.center() + QPointF(d, d));
      p.drawLine(r.center() + QPointF(d, -d), r.center() + QPointF(-d, d));
    };
  return [](QPainter&, const QRectF&, const QColor&) {};
}

bool Save(const QImage& image, const QString& path) {
  // Bitmaps are stored without alpha, as 24-bit pictures.
  if (!image.convertToFormat(QImage::Format_RGB888).save(path, "BMP")) {
    std::fprintf(stderr, "MakeSkin: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// A face in state 1 (normal) or 2 (active: the current mode, or pressed).
QImage ButtonFace(QSize size, int state, const QColor& behind, bool rounded = true) {
  QImage img(size, QImage::Format_ARGB32);
  img.fill(behind);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF r(0.5, 0.5, size.width() - 1, size.height() - 1);
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  if (state == 2) {
    g.setColorAt(0, kAccent);
    g.setColorAt(1, kAccentDark);
  } else {
    g.setColorAt(0, kPanelLight);
    g.setColorAt(1, kPanel);
  }
  p.setPen(QPen(state == 2 ? kAccent.lighter(120) : kPanelLight.lighter(115), 1));
  p.setBrush(g);
  if (rounded) p.drawRoundedRect(r, 7, 7);
  else p.drawRect(r);
  return img;
}

bool ModeButton(const QString& dir, const QString& name, const QString& glyph, const QString& label) {
  bool ok = true;
  for (int state = 1; state <= 2; ++state) {
    QImage img = ButtonFace(QSize(96, 66), state, kWindow);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QColor ink = state == 2 ? QColor(255, 255, 255) : kGlyph;
    GlyphFor(glyph)(p, QRectF(30, 6, 36, 36), ink);
    QFont f("DejaVu Sans");
    f.setPixelSize(12);
    f.setBold(state == 2);
    p.setFont(f);
    p.setPen(ink);
    p.drawText(QRectF(0, 44, 96, 18), Qt::AlignCenter, label);
    p.end();
    ok = Save(img, QString("%1/%2_%3.bmp").arg(dir, name).arg(state)) && ok;
  }
  return ok;
}

bool ToolButton(const QString& dir, const QString& name, const QString& glyph, QSize size = QSize(36, 36)) {
  bool ok = true;
  for (int state = 1; state <= 2; ++state) {
    QImage img = ButtonFace(size, state, kWindow);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    GlyphFor(glyph)(p, QRectF(0, 0, size.width(), size.height()), state == 2 ? QColor(255, 255, 255) : kGlyph);
    p.end();
    ok = Save(img, QString("%1/%2_%3.bmp").arg(dir, name).arg(state)) && ok;
  }
  return ok;
}

// The logo on a transparent ground; callers lay it over their background.
QImage Logo(QSize size, int discRadius, int textPixels, bool subtitle) {
  QImage img(size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(discRadius + 4, size.height() / 2.0), discRadius);
  g.setColorAt(0, kAccent.lighter(130));
  g.setColorAt(1, kAccentDark);
  QPointF c(discRadius + 4, size.height() / 2.0);
  QPainterPath ring;
  ring.addEllipse(c, discRadius, discRadius);
  QPainterPath hole;
  hole.addEllipse(c, discRadius * 0.24, discRadius * 0.24);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawPath(ring.subtracted(hole));
  p.setPen(QPen(QColor(255, 255, 255, 110), std::max(1.0, discRadius * 0.07)));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(c.x() - discRadius * 0.66, c.y() - discRadius * 0.66, discRadius * 1.32, discRadius * 1.32), 20 * 16, 70 * 16);
  QFont f("DejaVu Sans");
  f.setPixelSize(textPixels);
  f.setBold(true);
  f.setLetterSpacing(QFont::PercentageSpacing, 104);
  p.setFont(f);
  p.setPen(QColor(240, 244, 252));
  qreal x = discRadius * 2 + 14;
  if (subtitle) {
    p.drawText(QRectF(x, 0, size.width() - x, size.height() * 0.62), Qt::AlignLeft | Qt::AlignBottom, "Varnex");
    QFont s("DejaVu Sans");
    s.setPixelSize(textPixels / 3);
    p.setFont(s);
    p.setPen(kGlyph);
    p.drawText(QRectF(x + 3, size.height() * 0.64, size.width() - x, size.height() * 0.3), Qt::AlignLeft | Qt::AlignTop,
               "Discs, written well.");
  } else {
    p.drawText(QRectF(x, 0, size.width() - x, size.height()), Qt::AlignLeft | Qt::AlignVCenter, "Varnex");
  }
  return img;
}

QImage Splash() {
  QImage img(QSize(480, 260), QImage::Format_ARGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 480, 260);
  g.setColorAt(0, kPanel);
  g.setColorAt(1, kWindow);
  p.fillRect(img.rect(), g);
  // Concentric grooves in the corner, as on a written disc.
  for (int i = 0; i < 14; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 10 + i * 2), 1));
    p.drawEllipse(QPointF(480, 260), 90 + i * 14, 90 + i * 14);
  }
  p.drawImage(QPoint(40, 70), Logo(QSize(400, 110), 50, 54, true));
  p.setPen(kGlyph.darker(130));
  QFont f("DejaVu Sans");
  f.setPixelSize(11);
  p.setFont(f);
  p.drawText(QRectF(40, 215, 400, 20), Qt::AlignLeft, "Data · MP3 · Audio · Video · Copy · Analysis");
  return img;
}

QImage MainBackground() {
  QImage img(QSize(kMainWidth, kMainHeight), QImage::Format_ARGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(img.rect(), kWindow);
  QLinearGradient head(0, 0, 0, 48);
  head.setColorAt(0, kPanelLight);
  head.setColorAt(1, kPanel);
  p.fillRect(QRect(0, 0, kMainWidth, 48), head);
  p.fillRect(QRect(0, 48, kMainWidth, 1), kAccent);
  p.fillRect(QRect(0, 49, kMainWidth, 78), kPanel.darker(108));
  p.fillRect(QRect(0, 127, kMainWidth, 1), kPanelLight);
  p.fillRect(QRect(0, kMainHeight - 28, kMainWidth, 28), kPanel);
  p.fillRect(QRect(0, kMainHeight - 29, kMainWidth, 1), kPanelLight);
  return img;
}

// White pixels are cut out of the window: here its rounded corners.
QImage Shape() {
  QImage img(QSize(kMainWidth, kMainHeight), QImage::Format_ARGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawRoundedRect(QRect(0, 0, kMainWidth, kMainHeight), kCorner, kCorner);
  return img;
}

// The program's icon for the desktop entry: the disc on a rounded tile.
bool SaveIcon(const QString& path) {
  QImage img(QSize(256, 256), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 256);
  g.setColorAt(0, kPanelLight);
  g.setColorAt(1, kWindow);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
  QRadialGradient disc(QPointF(128, 128), 92);
  disc.setColorAt(0, kAccent.lighter(130));
  disc.setColorAt(1, kAccentDark);
  QPainterPath ring;
  ring.addEllipse(QPointF(128, 128), 92, 92);
  QPainterPath hole;
  hole.addEllipse(QPointF(128, 128), 22, 22);
  p.setBrush(disc);
  p.drawPath(ring.subtracted(hole));
  p.setPen(QPen(QColor(255, 255, 255, 120), 7, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(68, 68, 120, 120), 20 * 16, 70 * 16);
  p.end();
  if (!img.save(path, "PNG")) {
    std::fprintf(stderr, "MakeSkin: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

// The program's icon, the picture of data/desktop/org.varnex.Varnex.svg.
QImage Icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);
  const QPointF c(128, 128);
  p.setPen(QPen(QColor(0x3c, 0x4a, 0x5c), 6));
  p.setBrush(QColor(0xc9, 0xd3, 0xdf));
  p.drawEllipse(c, 120, 120);
  p.setPen(QPen(QColor(0xe0, 0x7a, 0x1f), 28));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, 92, 92);
  p.setPen(QPen(QColor(0x3c, 0x4a, 0x5c), 4));
  p.setBrush(QColor(0xee, 0xf2, 0xf6));
  p.drawEllipse(c, 40, 40);
  p.setBrush(Qt::white);
  p.drawEllipse(c, 14, 14);
  return image;
}

// Writes the icon in the sizes of the hicolor theme: OUTDIR/SIZExSIZE/apps/NAME.png.
int MakeIcons(const QString& dir, const QString& name) {
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QString("%1/%2x%2/apps").arg(dir).arg(size);
    if (!QDir().mkpath(folder) || !Icon(size).save(folder + "/" + name + ".png")) {
      std::fprintf(stderr, "MakeSkin: cannot write the %dx%d icon in %s\n", size, size, qPrintable(folder));
      return 1;
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc == 4 && QString(argv[1]) == "--icons") return MakeIcons(QString::fromLocal8Bit(argv[2]), argv[3]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeSkin OUTDIR | MakeSkin --icons OUTDIR NAME\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  const QString lang = dir + "/en";
  if (!QDir().mkpath(lang)) {
    std::fprintf(stderr, "MakeSkin: cannot create %s\n", qPrintable(lang));
    return 1;
  }
  bool ok = true;
  QFile rgb(dir + "/RGB.txt");
  if (rgb.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    QTextStream(&rgb) << kWindow.red() << "\n" << kWindow.green() << "\n" << kWindow.blue() << "\n";
  } else {
    ok = false;
  }
  ok = Save(MainBackground(), dir + "/Main.bmp") && ok;
  ok = Save(Shape(), dir + "/Shape.bmp") && ok;
  {
    // The main window's logo sits at (14, 4) of the title band.
    QImage logo = MainBackground().copy(QRect(14, 4, 170, 40));
    QPainter p(&logo);
    p.drawImage(0, 0, Logo(QSize(170, 40), 16, 22, false));
    p.end();
    ok = Save(logo, lang + "/logo.bmp") && ok;
  }
  ok = SaveIcon(dir + "/varnex.png") && ok;
  ok = Save(Splash(), lang + "/logo2.bmp") && ok;

  // Mode buttons: language-dependent pairs carry their words in the picture.
  ok = ModeButton(lang, "BtnAudioCD", "AudioCD", "Audio CD") && ok;
  ok = ModeButton(lang, "BtnDataCD", "DataCD", "Data Disc") && ok;
  ok = ModeButton(lang, "BtnAnalyseCD", "Analyse", "Analysis") && ok;
  ok = ModeButton(lang, "BtnDiscCopy", "Copy", "Disc Copy") && ok;
  ok = ModeButton(dir, "BtnPlome", "Mp3", "MP3 Disc") && ok;
  ok = ModeButton(dir, "BtnVCD", "Video", "VCD") && ok;
  ok = ModeButton(dir, "BtnSVCD", "Video", "SVCD") && ok;
  ok = ModeButton(dir, "BtnDVD", "Video", "DVD") && ok;

  const struct { const char* file; const char* glyph; } tools[] = {
      {"Refresh", "Refresh"},   {"SAVE", "Save"},          {"AddFiles", "Add"},
      {"OpenBCD", "Open"},      {"NewBCDFile", "New"},     {"Burn", "Burn"},
      {"AnalyCD", "DiscInfo"},  {"AnalySector", "Sector"}, {"AnalyDev", "Device"},
      {"AnalyCheck", "Check"},
      {"Erase", "Erase"},       {"EjectDisc", "Eject"},    {"CloseDisc", "CloseDisc"},
      {"Help", "Help"},         {"Timingset", "Clock"}};
  for (const auto& t : tools) ok = ToolButton(dir, t.file, t.glyph) && ok;
  ok = ToolButton(dir, "Min", "Minimise", QSize(28, 24)) && ok;
  ok = ToolButton(dir, "Close", "Close", QSize(28, 24)) && ok;
  QImage skin = ButtonFace(QSize(28, 24), 1, kPanel);
  {
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    GlyphFor("Palette")(p, QRectF(2, 0, 24, 24), kGlyph);
  }
  ok = Save(skin, dir + "/BtnSkin.bmp") && ok;
  return ok ? 0 : 1;
}
