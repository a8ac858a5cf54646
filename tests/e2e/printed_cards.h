#pragma once
// The card queues of the tests' private CUPS server, and what the agent sent and printed there.
#include <optional>
#include <string>
#include <vector>

#include "tests/support/cups_server.h"

namespace parvel::e2e {

// Adds the queue `name` (a CR80 card printer) to the private server, once per test program.
void EnsureCardQueue(const std::string& name);
// The ids of every job `queue` has seen, oldest first.
std::vector<int> Jobs(const std::string& queue);
// Waits until `queue` has seen `count` jobs; answers their ids, or nothing on timeout.
std::optional<std::vector<int>> WaitForJobs(const std::string& queue, size_t count);
// The document the agent sent as job `id`, as CUPS keeps it in its spool folder.
std::vector<doubles::PdfPage> SentDocument(int id);
// Waits until job `id` of `queue` has completed and reads the card the queue wrote for it.
std::vector<doubles::PdfPage> PrintedCard(const std::string& queue, int id);
// The words of `page` in byte order, and `words` in byte order.
std::vector<std::string> SortedWords(const doubles::PdfPage& page);
std::vector<std::string> Sorted(std::vector<std::string> words);
// The words of `page` in the order pdftotext reads them, joined by blanks.
std::string Words(const doubles::PdfPage& page);

}  // namespace parvel::e2e
