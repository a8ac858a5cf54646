#pragma once
// An icon kept as its file image (ICO, PNG or XPM bytes) with the images decoded from it; it
// tells its owner of every change.
#include <QByteArray>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace parvel::tray {

// An icon file image that no image reader takes.
class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIcon {
 public:
  TIcon() = default;
  // A copy takes the image, never the change report.
  TIcon(const TIcon& other) : data_(other.data_), icon_(other.icon_) {}
  TIcon& operator=(const TIcon& other);

  // No image at all.
  bool Empty() const { return data_.isEmpty(); }
  // The file image as loaded.
  const QByteArray& Data() const { return data_; }
  // Every image of the file, for drawing at any size.
  const QIcon& Images() const { return icon_; }
  // A number that stands for this image as long as it is unchanged; 0 when empty.
  uint64_t Handle() const;

  // Takes a file image; one that decodes to no image throws EInvalidGraphic and keeps the
  // current one. An empty `data` clears.
  void LoadFromData(const QByteArray& data);
  // From a file, or a Qt resource (":/...").
  void LoadFromFile(const QString& path);
  void Assign(const TIcon& other);
  void Clear();

  std::function<void()> OnChange;

 private:
  void Changed() const {
    if (OnChange) OnChange();
  }

  QByteArray data_;
  QIcon icon_;
};

}  // namespace parvel::tray
