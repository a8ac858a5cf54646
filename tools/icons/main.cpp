// parvel-icons: makes the agent's desktop icons from the drawing of its tray icon, at build time.
//   parvel-icons ICON_16.xpm ICON_32.xpm OUT_DIR
// writes OUT_DIR/hicolor/{16x16,32x32,48x48}/apps/parvel.png and scalable/apps/parvel.svg. The
// 16 and 32 pixel images are the drawings themselves; the 48 pixel one is the 32 pixel drawing
// scaled; the SVG draws each pixel of the 32 pixel drawing as a square, so it is the same picture
// at every size.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <QTextStream>
#include <cstdio>

namespace {

bool Save(const QImage& image, const QString& dir, const QString& size) {
  const QString folder = dir + "/hicolor/" + size + "/apps";
  return QDir().mkpath(folder) && image.save(folder + "/parvel.png", "PNG");
}

bool SaveSvg(const QImage& image, const QString& dir) {
  const QString folder = dir + "/hicolor/scalable/apps";
  if (!QDir().mkpath(folder)) return false;
  QFile file(folder + "/parvel.svg");
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QTextStream out(&file);
  out << R"(<?xml version="1.0" encoding="UTF-8"?>)"
      << "\n"
      << QString(R"(<svg xmlns="http://www.w3.org/2000/svg" width="%1" height="%2" viewBox="0 0 %1 %2" )"
                 R"(shape-rendering="crispEdges">)")
             .arg(image.width())
             .arg(image.height())
      << "\n";
  // One rectangle per run of same-coloured pixels in a row.
  for (int y = 0; y < image.height(); ++y) {
    int x = 0;
    while (x < image.width()) {
      const QRgb pixel = image.pixel(x, y);
      int end = x + 1;
      while (end < image.width() && image.pixel(end, y) == pixel) ++end;
      if (qAlpha(pixel) > 0) {
        out << QString(R"(  <rect x="%1" y="%2" width="%3" height="1" fill="%4"/>)")
                   .arg(x)
                   .arg(y)
                   .arg(end - x)
                   .arg(QColor(pixel).name())
            << "\n";
      }
      x = end;
    }
  }
  out << "</svg>\n";
  return out.status() == QTextStream::Ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: parvel-icons ICON_16.xpm ICON_32.xpm OUT_DIR\n", stderr);
    return 2;
  }
  const QImage small = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_ARGB32);
  const QImage large = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_ARGB32);
  if (small.size() != QSize(16, 16) || large.size() != QSize(32, 32)) {
    std::fputs("parvel-icons: the drawings must be 16 and 32 pixels square\n", stderr);
    return 1;
  }
  const QString dir = QString::fromLocal8Bit(argv[3]);
  const QImage medium = large.scaled(48, 48, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (!Save(small, dir, "16x16") || !Save(large, dir, "32x32") || !Save(medium, dir, "48x48") ||
      !SaveSvg(large, dir)) {
    std::fputs("parvel-icons: cannot write the icons\n", stderr);
    return 1;
  }
  return 0;
}
