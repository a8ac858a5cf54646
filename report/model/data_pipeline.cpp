#include "report/model/data_pipeline.h"

namespace parvel::report {

void TppDataPipeline::Fire(const TNotifyEvent& handler) {
  if (handler) handler(*this);
}

void TppDataPipeline::UpdateFlags() {
  if (!Active() || Empty()) {
    position_flags_ = Active() ? ppdaNoRecords : 0;
    return;
  }
  position_flags_ = 0;
  if (AtFirst()) position_flags_ |= ppdaFirstRecord;
  if (AtLast() || Eof()) position_flags_ |= ppdaLastRecord;
}

void TppDataPipeline::Open() {
  if (!Active()) DoOpen();
  Fire(OnOpen);
  UpdateFlags();
}

void TppDataPipeline::Close() {
  if (Active()) DoClose();
  position_flags_ = 0;
  Fire(OnClose);
  SendEvent(this, kPipelineCloseEvent);
}

void TppDataPipeline::First() {
  if (!Active()) return;
  DoFirst();
  traversal_count_ = 0;
  data_traversed_ = false;
  UpdateFlags();
  Fire(OnFirst);
}

void TppDataPipeline::Last() {
  if (!Active()) return;
  DoLast();
  UpdateFlags();
  Fire(OnLast);
}

void TppDataPipeline::Next() {
  if (!Active() || Eof()) return;
  DoNext();
  data_traversed_ = true;
  ++traversal_count_;
  UpdateFlags();
  Fire(OnNext);
}

void TppDataPipeline::Prior() {
  if (!Active()) return;
  DoPrior();
  UpdateFlags();
  Fire(OnPrior);
}

void TppDataPipeline::Traversal() {
  Fire(OnTraversal);
  SendEvent(this, kPipelineTraversalEvent);
}

}  // namespace parvel::report
