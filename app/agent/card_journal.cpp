#include "app/agent/card_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>

namespace parvel::agent {
namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "parvel card journal 1";

// Names may hold any byte but "/" and NUL: blanks, line breaks and "%" are written as %XX.
std::string Escaped(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || c == '%' || byte == 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (ec != std::errc() || end != text.data() + i + 3) return std::nullopt;
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

std::string StampText(const TFileStamp& s) {
  std::ostringstream out;
  out << s.device << ' ' << s.inode << ' ' << s.size << ' ' << s.mtime.tv_sec << ' ' << s.mtime.tv_nsec;
  return out.str();
}

std::string IdentityText(const TCardIdentity& card) {
  return StampText(card.stamp) + ' ' + Escaped(card.name);
}

bool ReadIdentity(std::istringstream& in, TCardIdentity& card) {
  std::string name;
  in >> card.stamp.device >> card.stamp.inode >> card.stamp.size >> card.stamp.mtime.tv_sec >>
      card.stamp.mtime.tv_nsec >> name;
  if (!in) return false;
  const std::optional<std::string> plain = Unescaped(name);
  if (!plain || plain->empty()) return false;
  card.name = *plain;
  return true;
}

std::string SystemError() { return std::strerror(errno); }

void WriteAll(int fd, const std::string& text, const fs::path& file) {
  size_t at = 0;
  while (at < text.size()) {
    const ssize_t wrote = write(fd, text.data() + at, text.size() - at);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      throw ECardFileError("Cannot write the journal \"" + file.string() + "\". " + SystemError());
    }
    at += static_cast<size_t>(wrote);
  }
}

}  // namespace

std::optional<TFileStamp> StampOf(const fs::path& folder, const std::string& name) {
  struct stat st {};
  if (lstat((folder / name).c_str(), &st) != 0) return std::nullopt;
  return TFileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

void TCardJournal::Open(const fs::path& folder) {
  open_ = false;
  folder_ = folder;
  in_print_.reset();
  held_.clear();
  const fs::path file = folder / kJournalName;
  const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) {
      open_ = true;
      return;
    }
    throw ECardFileError("Cannot open the journal \"" + file.string() + "\". " + SystemError());
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const std::string error = SystemError();
      close(fd);
      throw ECardFileError("Cannot read the journal \"" + file.string() + "\". " + error);
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > size_t{16} * 1024 * 1024) break;
  }
  close(fd);

  const auto damaged = [&](size_t line) {
    return ECardFileError("The journal \"" + file.string() + "\" is damaged at line " + std::to_string(line) +
                          "; move it away to print again (a card in print may then print twice)");
  };
  std::istringstream lines(text);
  std::string line;
  size_t number = 0;
  if (!std::getline(lines, line) || line != kHeader) throw damaged(1);
  number = 1;
  while (std::getline(lines, line)) {
    ++number;
    if (line.empty()) continue;
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    if (kind == "print" && !in_print_) {
      TCardInPrint card;
      in >> card.printer >> card.since >> card.job_id;
      const std::optional<std::string> printer = Unescaped(card.printer);
      if (!in || !printer || !ReadIdentity(in, card.card)) throw damaged(number);
      card.printer = *printer;
      in_print_ = card;
    } else if (kind == "held") {
      TCardIdentity card;
      if (!ReadIdentity(in, card)) throw damaged(number);
      held_.push_back(card);
    } else {
      throw damaged(number);
    }
  }
  open_ = true;
  Prune();
}

void TCardJournal::Begin(const TCardInPrint& card) {
  in_print_ = card;
  // Not synced: until its job exists, a card lost from the journal by a power loss only prints
  // later (a job made then without its document prints nothing, and CUPS aborts it on its next
  // start). The job's number is synced, and the card with it.
  Save(/*durable=*/false);
}

void TCardJournal::SetJob(int job_id, const std::string& printer) {
  if (!in_print_) return;
  in_print_->job_id = job_id;
  in_print_->printer = printer;
  Save();
}

void TCardJournal::End(bool hold) {
  if (hold && in_print_) held_.push_back(in_print_->card);
  in_print_.reset();
  Prune();
  Save();
}

void TCardJournal::Hold(const TCardIdentity& card) {
  if (std::find(held_.begin(), held_.end(), card) == held_.end()) held_.push_back(card);
  Save();
}

bool TCardJournal::Held(const std::string& name) const {
  const auto same_name = [&](const TCardIdentity& card) { return card.name == name; };
  if (std::none_of(held_.begin(), held_.end(), same_name)) return false;
  const std::optional<TFileStamp> now = StampOf(folder_, name);
  return now && std::any_of(held_.begin(), held_.end(), [&](const TCardIdentity& card) {
           return card.name == name && card.stamp == *now;
         });
}

void TCardJournal::Prune() {
  std::erase_if(held_, [&](const TCardIdentity& card) {
    const std::optional<TFileStamp> now = StampOf(folder_, card.name);
    return !now || !(*now == card.stamp);
  });
}

void TCardJournal::Save(bool durable) {
  std::string text = std::string(kHeader) + "\n";
  if (in_print_) {
    text += "print " + Escaped(in_print_->printer) + ' ' + std::to_string(in_print_->since) + ' ' +
            std::to_string(in_print_->job_id) + ' ' + IdentityText(in_print_->card) + "\n";
  }
  for (const TCardIdentity& card : held_) text += "held " + IdentityText(card) + "\n";

  const fs::path file = folder_ / kJournalName;
  const fs::path temporary = folder_ / (std::string(kJournalName) + ".new");
  unlink(temporary.c_str());
  // Nothing to remember: the folder keeps no journal. Synced with the folder, so that the card
  // removed before is gone for good too: a card back after a power loss without its journal
  // would print again.
  if (!in_print_ && held_.empty()) {
    if (unlink(file.c_str()) != 0 && errno != ENOENT) {
      throw ECardFileError("Cannot remove the journal \"" + file.string() + "\". " + SystemError());
    }
    SyncFolder();
    return;
  }
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) throw ECardFileError("Cannot write the journal \"" + file.string() + "\". " + SystemError());
  try {
    WriteAll(fd, text, file);
    if (durable && fsync(fd) != 0)
      throw ECardFileError("Cannot write the journal \"" + file.string() + "\". " + SystemError());
  } catch (...) {
    close(fd);
    unlink(temporary.c_str());
    throw;
  }
  close(fd);
  if (rename(temporary.c_str(), file.c_str()) != 0) {
    const std::string error = SystemError();
    unlink(temporary.c_str());
    throw ECardFileError("Cannot write the journal \"" + file.string() + "\". " + error);
  }
  if (durable) SyncFolder();
}

// A rename or a delete is durable only once the folder is synced.
void TCardJournal::SyncFolder() const {
  const int dir = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace parvel::agent
