// Forgets to free a destination list on purpose. The sanitizer build runs it with the project's
// leak suppressions and expects the leak to be reported: the suppressions must never hide a
// forgotten cupsFreeDests in our own code.
#include <cups/cups.h>

#include <cstdio>

int main() {
  cups_dest_t* dests = nullptr;
  const int count = cupsAddDest("forgotten", nullptr, 0, &dests);
  std::printf("%d destination(s) left unfreed\n", count);
  dests = nullptr;
  return 0;
}
