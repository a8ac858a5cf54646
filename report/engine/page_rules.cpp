#include "report/engine/page_rules.h"

#include <algorithm>
#include <cstdlib>

namespace parvel::report {

namespace {

int32_t ParsePage(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || value <= 0 || value > INT32_MAX) return 0;
  return static_cast<int32_t>(value);
}

// A single page request beyond the known last page asks for the last page.
void AdjustRequested(TppRequestCursor& cursor, const TppPageState& state) {
  if (cursor.page_requested < 1) cursor.page_requested = 1;
  if (state.first_pass_complete && cursor.page_requested > state.page_count) {
    cursor.page_requested = std::max(state.page_count, 1);
  }
}

// The first valid entry from `index` on; the cursor keeps its place there.
int32_t SeekValid(TppRequestCursor& cursor, size_t index, const TppPageState& state) {
  for (; index < cursor.page_list.size(); ++index) {
    const int32_t page = ValidListEntry(cursor, index, state);
    if (page > 0) {
      cursor.list_position = index;
      return page;
    }
  }
  cursor.list_position = cursor.page_list.size();
  return 0;
}

int32_t LowerToCheckpoints(int32_t page, const TppPageState& state, bool afterPage) {
  const int32_t reachable = state.last_checkpointed + 1;
  if (page > reachable) page = afterPage && state.first_pass_complete ? state.last_checkpointed : reachable;
  return std::max(page, 1);
}

}  // namespace

int32_t ValidListEntry(const TppRequestCursor& cursor, size_t index, const TppPageState& state) {
  if (index >= cursor.page_list.size()) return 0;
  const int32_t page = ParsePage(cursor.page_list[index]);
  if (page <= 0) return 0;
  if (state.first_pass_complete && page > state.page_count) return 0;
  return page;
}

TppNextPage FirstPage(TppRequestCursor& cursor, const TppPageState& state) {
  TppNextPage next;
  switch (cursor.setting) {
    case psAll:
    case psPageRange:  // the range is the devices' to pick from all pages
    case psFirstPage:
      next.page_no = 1;
      break;
    case psPageList:
      next.page_no = SeekValid(cursor, 0, state);
      next.done = next.page_no == 0;
      break;
    case psSinglePage:
      AdjustRequested(cursor, state);
      next.page_no = cursor.page_requested;
      break;
    case psLastPage:
      next.page_no = state.first_pass_complete ? state.page_count : state.last_checkpointed + 1;
      break;
  }
  if (!next.done) next.page_no = LowerToCheckpoints(next.page_no, state, false);
  return next;
}

TppNextPage NextPage(TppRequestCursor& cursor, const TppPageState& state) {
  TppNextPage next;
  next.page_no = state.page_no + 1;
  switch (cursor.setting) {
    case psAll:
    case psPageRange:
      next.done = state.last_band_generated;
      break;
    case psPageList: {
      const int32_t current = ValidListEntry(cursor, cursor.list_position, state);
      const int32_t target =
          current > state.page_no ? current : SeekValid(cursor, cursor.list_position + 1, state);
      next.done = target == 0;
      next.page_no = target;
      // Past the end of the report a listed page cannot come: the list is done.
      if (!next.done && state.last_band_generated && target > state.page_no &&
          state.page_no >= state.page_count) {
        next.done = true;
      }
      break;
    }
    case psSinglePage:
      AdjustRequested(cursor, state);
      if (state.page_no >= cursor.page_requested) {
        next.done = state.page_drawn;
        next.page_no = cursor.page_requested;
      } else if (state.last_band_generated && !state.first_pass_complete) {
        next.done = true;  // a report that ends before the page: nothing more to find
      } else {
        next.page_no = cursor.page_requested;
      }
      break;
    case psFirstPage:
      next.done = true;
      break;
    case psLastPage:
      if (state.last_band_generated) {
        next.done = state.page_drawn;
        next.page_no = state.page_no;
      }
      break;
  }
  if (!next.done) next.page_no = LowerToCheckpoints(next.page_no, state, true);
  return next;
}

bool RequestDoneAtPageEnd(const TppRequestCursor& cursor, const TppPageState& state) {
  switch (cursor.setting) {
    case psAll:
    case psPageRange:
    case psLastPage:
      return state.last_band_generated && state.page_drawn && state.page_no == state.page_count;
    case psPageList:
      return ValidListEntry(cursor, cursor.list_position, state) == 0;
    case psSinglePage:
      return state.page_no >= cursor.page_requested && state.page_drawn;
    case psFirstPage:
      return state.page_drawn;
  }
  return true;
}

bool PageDrawn(const TppRequestCursor& cursor, const TppPageState& state, const TppDrawInput& input) {
  bool drawn = false;
  if (input.pass == psOnePass) {
    drawn = input.first_pass;
  } else if (input.second_pass) {
    drawn = true;
  } else if (input.first_pass) {
    drawn = cursor.page_requested == state.page_no;
  }
  if (drawn && input.publisher_caches) return true;
  switch (cursor.setting) {
    case psPageList:
    case psSinglePage:
      // A list request draws the page its cursor stands on.
      if (cursor.setting == psPageList)
        return drawn && ValidListEntry(cursor, cursor.list_position, state) == state.page_no;
      return drawn && cursor.page_requested == state.page_no;
    case psFirstPage:
      return drawn && state.page_no == 1;
    case psLastPage:
      return drawn && state.first_pass_complete && state.page_no == state.page_count;
    case psAll:
    case psPageRange:
      return drawn;
  }
  return drawn;
}

}  // namespace parvel::report
