#include "app/tray/icon.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

namespace parvel::tray {

namespace {

// Every image of the file image, each frame of an ICO included; a null icon when none decodes.
QIcon Decode(const QByteArray& data) {
  QBuffer buffer;
  buffer.setData(data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  QIcon icon;
  const int count = reader.imageCount();
  for (int i = 0; i < std::max(count, 1); ++i) {
    if (i > 0 && !reader.jumpToImage(i)) break;
    QImage image = reader.read();
    if (image.isNull()) break;
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace

TIcon& TIcon::operator=(const TIcon& other) {
  Assign(other);
  return *this;
}

uint64_t TIcon::Handle() const { return Empty() ? 0 : static_cast<uint64_t>(icon_.cacheKey()); }

void TIcon::LoadFromData(const QByteArray& data) {
  if (data.isEmpty()) {
    Clear();
    return;
  }
  QIcon icon = Decode(data);
  if (icon.isNull()) throw EInvalidGraphic("Invalid icon image");
  data_ = data;
  icon_ = icon;
  Changed();
}

void TIcon::LoadFromFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EInvalidGraphic("Cannot open icon " + path.toStdString() + ": " + file.errorString().toStdString());
  }
  LoadFromData(file.readAll());
}

void TIcon::Assign(const TIcon& other) {
  if (&other == this) return;
  data_ = other.data_;
  icon_ = other.icon_;
  Changed();
}

void TIcon::Clear() {
  if (Empty()) return;
  data_.clear();
  icon_ = QIcon();
  Changed();
}

}  // namespace parvel::tray
