#include "report/engine/list_pipeline.h"

#include "report/base/errors.h"

namespace parvel::report {

TppListPipeline::TppListPipeline(TComponent* owner) : TppDataPipeline(owner) {}

TppListPipeline::~TppListPipeline() {
  // Listeners holding bookmarks of this pipeline let them go when told it is freed.
  BeginDestruction();
}

void TppListPipeline::SetRecords(std::vector<Record> records) {
  records_ = std::move(records);
  position_ = 0;
}

const TppListPipeline::Record& TppListPipeline::Current() const {
  static const Record kNone;
  if (!active_ || position_ < 0 || position_ >= RecordCount()) return kNone;
  return records_[static_cast<size_t>(position_)];
}

std::string TppListPipeline::Field(size_t index) const {
  const Record& record = Current();
  return index < record.size() ? record[index] : std::string();
}

void TppListPipeline::DoOpen() {
  if (fail_open) throw EDataError("the list cannot be opened");
  active_ = true;
  position_ = 0;
}

TppBookmark TppListPipeline::GetBookmark() {
  const TppBookmark bookmark = next_bookmark_++;
  bookmarks_.emplace(bookmark, position_);
  return bookmark;
}

void TppListPipeline::GotoBookmark(TppBookmark bookmark) {
  const auto it = bookmarks_.find(bookmark);
  if (it == bookmarks_.end()) throw EDataError("invalid bookmark");
  position_ = it->second;
}

void TppListPipeline::FreeBookmark(TppBookmark bookmark) { bookmarks_.erase(bookmark); }

}  // namespace parvel::report
