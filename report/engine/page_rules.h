#pragma once
// Which pages a page request has the engine generate: the first page, the page after each
// one, when the request is done, and whether a page is drawn or only calculated. Pure rules
// over the engine's page state.
#include <cstdint>
#include <vector>

#include "report/output/page.h"
#include "report/output/page_request.h"

namespace parvel::report {

struct TppPageState {
  int32_t page_no = 0;     // AbsolutePageNo
  int32_t page_count = 0;  // AbsolutePageCount
  bool first_pass_complete = false;
  bool last_band_generated = false;
  bool page_drawn = false;
  // The highest page a checkpoint exists for; generation cannot start beyond the page after it.
  int32_t last_checkpointed = 0;
};

// The engine's copy of a request, with its place in the page list.
struct TppRequestCursor {
  TppPageSettingType setting = psAll;
  std::vector<std::string> page_list;
  int32_t page_requested = 1;
  size_t list_position = 0;
};

struct TppNextPage {
  bool done = false;
  int32_t page_no = 0;
};

// A page list entry that names a page that can exist; 0 (or worse) when it does not.
int32_t ValidListEntry(const TppRequestCursor& cursor, size_t index, const TppPageState& state);

// The first page of a request. A single page request beyond a known page count is lowered,
// in the cursor too, so that its page can be drawn.
TppNextPage FirstPage(TppRequestCursor& cursor, const TppPageState& state);
// The page after the one just generated, or done.
TppNextPage NextPage(TppRequestCursor& cursor, const TppPageState& state);
// Whether the request is satisfied once the page just generated is out.
bool RequestDoneAtPageEnd(const TppRequestCursor& cursor, const TppPageState& state);

struct TppDrawInput {
  TppPassSettingType pass = psOnePass;
  bool first_pass = false;   // state bit 2
  bool second_pass = false;  // state bit 4
  bool publisher_caches = false;
};

// Whether the page being started is produced for output or only calculated.
bool PageDrawn(const TppRequestCursor& cursor, const TppPageState& state, const TppDrawInput& input);

}  // namespace parvel::report
