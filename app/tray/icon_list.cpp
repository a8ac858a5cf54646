#include "app/tray/icon_list.h"

#include <QtEndian>
#include <string>
#include <utility>

namespace parvel::tray {

const TIcon& TIconList::Get(int index) const {
  CheckIndex(index);
  return *items_[index];
}

void TIconList::Put(int index, const TIcon& icon) {
  CheckIndex(index);
  items_[index]->Assign(icon);
  Changed();
}

int TIconList::Add(const TIcon& icon) {
  items_.push_back(std::make_unique<TIcon>(icon));
  Changed();
  return Count() - 1;
}

int TIconList::AddResource(const QString& name) {
  TIcon icon;
  icon.LoadFromFile(name);
  return Add(icon);
}

void TIconList::Insert(int index, const TIcon& icon) {
  if (index != Count()) CheckIndex(index);
  items_.insert(items_.begin() + index, std::make_unique<TIcon>(icon));
  Changed();
}

void TIconList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
  Changed();
}

void TIconList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[index1], items_[index2]);
  Changed();
}

void TIconList::Move(int current, int target) {
  CheckIndex(current);
  CheckIndex(target);
  if (current == target) return;
  auto item = std::move(items_[current]);
  items_.erase(items_.begin() + current);
  items_.insert(items_.begin() + target, std::move(item));
  Changed();
}

int TIconList::IndexOf(const TIcon* icon) const {
  for (int i = 0; i < Count(); ++i) {
    if (items_[i].get() == icon) return i;
  }
  return -1;
}

void TIconList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TIconList::Assign(const TIconList& source) {
  if (&source == this) return;
  BeginUpdate();
  items_.clear();
  for (const auto& item : source.items_) items_.push_back(std::make_unique<TIcon>(*item));
  changed_in_update_ = true;
  EndUpdate();
}

void TIconList::Assign(const TIcon& icon) {
  BeginUpdate();
  items_.clear();
  if (!icon.Empty()) items_.push_back(std::make_unique<TIcon>(icon));
  changed_in_update_ = true;
  EndUpdate();
}

void TIconList::EndUpdate() {
  if (update_count_ == 0) return;
  if (--update_count_ == 0 && changed_in_update_) {
    changed_in_update_ = false;
    if (OnChange) OnChange();
  }
}

QByteArray TIconList::WriteData() const {
  QByteArray data;
  auto put32 = [&data](int32_t value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    data.append(bytes, 4);
  };
  put32(Count());
  for (const auto& item : items_) {
    put32(static_cast<int32_t>(item->Data().size()));
    data.append(item->Data());
  }
  return data;
}

void TIconList::ReadData(const QByteArray& data) {
  qsizetype at = 0;
  auto get32 = [&]() {
    if (data.size() - at < 4) throw EListError("Icon list data ends early");
    const int32_t value = qFromLittleEndian<int32_t>(data.constData() + at);
    at += 4;
    return value;
  };
  std::vector<std::unique_ptr<TIcon>> read;
  const int32_t count = get32();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t size = get32();
    auto icon = std::make_unique<TIcon>();
    if (size > 0) {
      if (data.size() - at < size) throw EListError("Icon list data ends early");
      icon->LoadFromData(data.mid(at, size));
      at += size;
    }
    read.push_back(std::move(icon));
  }
  items_ = std::move(read);
  Changed();
}

void TIconList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
}

void TIconList::Changed() {
  if (update_count_ > 0) {
    changed_in_update_ = true;
  } else if (OnChange) {
    OnChange();
  }
}

}  // namespace parvel::tray
