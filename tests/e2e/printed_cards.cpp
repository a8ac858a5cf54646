#include "tests/e2e/printed_cards.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "tests/e2e/agent_run.h"

namespace parvel::e2e {

using doubles::CupsEnvironment;

void EnsureCardQueue(const std::string& name) {
  static std::set<std::string> added;
  if (added.insert(name).second) CupsEnvironment::Server().AddQueue(name, "card_cr80.ppd");
}

std::vector<int> Jobs(const std::string& queue) { return doubles::CupsServer::JobIds(queue); }

std::optional<std::vector<int>> WaitForJobs(const std::string& queue, size_t count) {
  std::vector<int> ids;
  if (!WaitUntil([&] {
        ids = Jobs(queue);
        return ids.size() >= count;
      })) {
    return std::nullopt;
  }
  return ids;
}

std::vector<doubles::PdfPage> SentDocument(int id) {
  char name[32];
  std::snprintf(name, sizeof name, "d%05d-001", id);
  return doubles::ReadPdf(CupsEnvironment::Server().Folder() / "spool" / name);
}

std::vector<doubles::PdfPage> PrintedCard(const std::string& queue, int id) {
  const doubles::JobRecord record = CupsEnvironment::Server().WaitForJob(id, kDeadline.count() / 1000.0);
  const auto reasons = record.attributes.find("job-state-reasons");
  EXPECT_EQ(record.state, 9) << "job " << id << ": "
                             << (reasons != record.attributes.end() ? reasons->second : std::string());
  return doubles::ReadPdf(CupsEnvironment::Server().OutputOf(queue));
}

std::string Words(const doubles::PdfPage& page) {
  std::string text;
  for (const doubles::PdfWord& word : page.words) text += (text.empty() ? "" : " ") + word.text;
  return text;
}

std::vector<std::string> SortedWords(const doubles::PdfPage& page) {
  std::vector<std::string> words;
  for (const doubles::PdfWord& word : page.words) words.push_back(word.text);
  return Sorted(std::move(words));
}

std::vector<std::string> Sorted(std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  return words;
}

}  // namespace parvel::e2e
