#pragma once
// TIconList: an ordered list of icons that owns them and reports every change to its owner,
// once per begin-update/end-update bracket.
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "app/tray/icon.h"

namespace parvel::tray {

// An index outside the list, or a stored form that ends before its entries do.
class EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

class TIconList {
 public:
  TIconList() = default;
  TIconList(const TIconList&) = delete;
  TIconList& operator=(const TIconList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Index outside 0..Count()-1 throws EListError in every operation that takes one.
  const TIcon& Get(int index) const;
  // Replaces the image at `index` by a copy of `icon`.
  void Put(int index, const TIcon& icon);
  // Appends a copy of `icon`; answers its index.
  int Add(const TIcon& icon);
  // Appends the icon of a Qt resource (":/tray/parvel-32.png") or a file.
  int AddResource(const QString& name);
  void Insert(int index, const TIcon& icon);
  void Delete(int index);
  void Exchange(int index1, int index2);
  void Move(int current, int target);
  // The index of an icon held by this list, or -1.
  int IndexOf(const TIcon* icon) const;
  void Clear();
  // Replaces the contents by copies of `source`'s icons.
  void Assign(const TIconList& source);
  // Replaces the contents by one copy of `icon` (none when `icon` is empty).
  void Assign(const TIcon& icon);

  // Changes inside a bracket are reported once, at its end (only when something changed).
  void BeginUpdate() { ++update_count_; }
  void EndUpdate();

  // The stored form: a 32-bit count, then per entry a 32-bit byte size and that many bytes of
  // the icon's file image (little-endian); a size of 0 or less is an empty entry.
  QByteArray WriteData() const;
  // Replaces the contents from a stored form; a truncated form throws EListError and leaves
  // the list as it was, an undecodable image throws EInvalidGraphic likewise.
  void ReadData(const QByteArray& data);

  std::function<void()> OnChange;

 private:
  void CheckIndex(int index) const;
  void Changed();

  std::vector<std::unique_ptr<TIcon>> items_;
  int update_count_ = 0;
  bool changed_in_update_ = false;
};

}  // namespace parvel::tray
