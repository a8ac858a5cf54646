#pragma once
// A source of records for a report: the operations the engine moves through the data with,
// and the bookkeeping (position flags, traversal count) every pipeline shares. Concrete
// pipelines supply how records are stored and reached.
#include <cstdint>
#include <functional>
#include <string>

#include "report/base/relative.h"

namespace parvel::report {

// Position flags of a pipeline, a byte of bits.
inline constexpr uint8_t ppdaFirstRecord = 1;
inline constexpr uint8_t ppdaLastRecord = 2;
inline constexpr uint8_t ppdaNoRecords = 4;

// Numbered events of pipelines.
inline constexpr int kPipelineTraversalEvent = 39;
inline constexpr int kPipelineCloseEvent = 47;

// An opaque position of a pipeline; 0 is none.
using TppBookmark = int64_t;

class TppDataPipeline : public TppRelative {
 public:
  using TNotifyEvent = std::function<void(TComponent& sender)>;
  using TppRelative::TppRelative;
  std::string ClassName() const override { return "TppDataPipeline"; }

  // Makes the records available; EDataError when they cannot be.
  void Open();
  // Ends access; the position flags are cleared.
  void Close();
  void First();
  void Last();
  // Past the last record, EOF becomes True.
  void Next();
  void Prior();
  virtual bool Active() const = 0;
  virtual bool Eof() const = 0;
  virtual bool BOF() const = 0;

  uint8_t PositionFlags() const { return position_flags_; }
  void SetPositionFlags(uint8_t flags) { position_flags_ = flags; }
  int32_t TraversalCount() const { return traversal_count_; }
  void SetTraversalCount(int32_t count) { traversal_count_ = count; }
  bool DataTraversed() const { return data_traversed_; }
  // The current record's number from 0; setting it does not move the pipeline.
  virtual int32_t RecordNo() const = 0;
  virtual void SetRecordNo(int32_t value) = 0;

  // A position to come back to; every bookmark taken must be freed.
  virtual TppBookmark GetBookmark() = 0;
  virtual void GotoBookmark(TppBookmark bookmark) = 0;
  virtual void FreeBookmark(TppBookmark bookmark) = 0;

  // The engine has moved to a record and wants calculations brought up to date.
  void Traversal();

  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TNotifyEvent OnFirst;
  TNotifyEvent OnLast;
  TNotifyEvent OnNext;
  TNotifyEvent OnPrior;
  TNotifyEvent OnTraversal;

 protected:
  virtual void DoOpen() = 0;
  virtual void DoClose() = 0;
  virtual void DoFirst() = 0;
  virtual void DoLast() = 0;
  virtual void DoNext() = 0;
  virtual void DoPrior() = 0;
  // Whether the pipeline stands on its first, its last, or no record at all.
  virtual bool AtFirst() const = 0;
  virtual bool AtLast() const = 0;
  virtual bool Empty() const = 0;

 private:
  void UpdateFlags();
  void Fire(const TNotifyEvent& handler);

  uint8_t position_flags_ = 0;
  int32_t traversal_count_ = 0;
  bool data_traversed_ = false;
};

}  // namespace parvel::report
