#pragma once
// A pipeline over records held in memory: a list of records, each a list of field texts. Tests
// and benchmarks drive reports with it.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report/model/data_pipeline.h"

namespace parvel::report {

class TppListPipeline : public TppDataPipeline {
 public:
  using Record = std::vector<std::string>;

  explicit TppListPipeline(TComponent* owner = nullptr);
  ~TppListPipeline() override;
  std::string ClassName() const override { return "TppListPipeline"; }

  void SetRecords(std::vector<Record> records);
  int RecordCount() const { return static_cast<int>(records_.size()); }
  // The current record; an empty one when the pipeline stands on none.
  const Record& Current() const;
  // Field `index` of the current record; "" when missing.
  std::string Field(size_t index) const;

  bool Active() const override { return active_; }
  bool Eof() const override { return active_ && (records_.empty() || position_ >= RecordCount()); }
  bool BOF() const override { return active_ && position_ <= 0; }
  int32_t RecordNo() const override { return position_; }
  void SetRecordNo(int32_t value) override { record_no_hint_ = value; }

  TppBookmark GetBookmark() override;
  void GotoBookmark(TppBookmark bookmark) override;
  void FreeBookmark(TppBookmark bookmark) override;
  // Bookmarks taken and not yet freed.
  int OpenBookmarks() const { return static_cast<int>(bookmarks_.size()); }

  // Makes the next Open fail with EDataError (a source that cannot be reached).
  bool fail_open = false;

 protected:
  void DoOpen() override;
  void DoClose() override { active_ = false; }
  void DoFirst() override { position_ = 0; }
  void DoLast() override { position_ = records_.empty() ? 0 : RecordCount() - 1; }
  void DoNext() override {
    if (position_ < RecordCount()) ++position_;
  }
  void DoPrior() override {
    if (position_ >= RecordCount()) {
      DoLast();
    } else if (position_ > 0) {
      --position_;
    }
  }
  bool AtFirst() const override { return position_ == 0; }
  bool AtLast() const override { return position_ == RecordCount() - 1; }
  bool Empty() const override { return records_.empty(); }

 private:
  std::vector<Record> records_;
  bool active_ = false;
  int32_t position_ = 0;
  int32_t record_no_hint_ = 0;
  TppBookmark next_bookmark_ = 1;
  // bookmark -> position, for the bookmarks not freed; a report takes one per page
  std::map<TppBookmark, int32_t> bookmarks_;
};

}  // namespace parvel::report
