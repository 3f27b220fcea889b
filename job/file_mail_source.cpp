#include "job/file_mail_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "job/seen_messages.h"
#include "platform/platform.h"

namespace larkspur {

namespace {

// Bytes read from a file at a time: the buffer of the listing, and the
// longest piece of a line handled at once (a longer line comes in pieces).
constexpr std::size_t kReadPiece = std::size_t{1} << 20;
// Bytes looked at to tell what a file holds.
constexpr std::size_t kSniffBytes = 4096;
// A message is read whole once it is wanted; beyond the bound a POP3 reply
// has, it is reported and left out.
constexpr std::size_t kMaxMessageBytes = kMaxReplyBytes;
// The first part of a message read for its header block; a longer block is
// read whole.
constexpr std::size_t kHeaderGuessBytes = 64 * 1024;

constexpr std::string_view kSeparator = "From ";

enum class FileKind { kMbox, kMessage };

struct MailFile {
  std::string path;
  FileKind kind;
};

// Where one message lies: bytes [start, end) of the file, less the mbox
// separator lines.
struct Located {
  std::uint32_t file = 0;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

bool ends_with_ascii_ci(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  const std::string_view tail = name.substr(name.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b;
  });
}

// "From sender date": the word "From ", a sender without blanks, then a
// date with its time of day ("12:34"). Thunderbird writes "From - Mon Jan  1
// 00:00:00 2024"; Gmail's Takeout "From 1234567890@xxx Mon Jan 01 ...". The
// time tells a separator from a body line that a careless writer left
// unquoted ("From our readers: ...").
bool is_separator(std::string_view line) {
  if (!line.starts_with(kSeparator)) return false;
  line.remove_prefix(kSeparator.size());
  const std::size_t blank = line.find(' ');
  if (blank == 0 || blank == std::string_view::npos) return false;
  const std::string_view date = line.substr(blank + 1);
  const auto digit = [](char ch) { return ch >= '0' && ch <= '9'; };
  for (std::size_t colon = date.find(':'); colon != std::string_view::npos; colon = date.find(':', colon + 1)) {
    if (colon > 0 && colon + 1 < date.size() && digit(date[colon - 1]) && digit(date[colon + 1])) return true;
  }
  return false;
}

// A header field's first line: a name of printable ASCII without blanks,
// then a colon.
bool is_header_line(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  return std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](char ch) { return ch > 0x20 && ch < 0x7F; });
}

// `line` without its line end (LF, CR LF).
std::string_view without_line_end(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// Appends one line of a message as the job takes it: ended by LF alone,
// and in an mbox with one ">" of a quoted ">From " line taken off.
// `line_start` is false for the second and later pieces of a long line.
void append_line(std::string& out, std::string_view line, bool mbox, bool line_start) {
  const bool ended = line.ends_with('\n');
  line = ended ? without_line_end(line) : line;
  if (mbox && line_start && line.starts_with('>')) {
    const std::size_t quotes = line.find_first_not_of('>');
    if (quotes != std::string_view::npos && line.substr(quotes).starts_with(kSeparator)) {
      line.remove_prefix(1);
    }
  }
  out += line;
  if (ended) out += '\n';
}

// The lines of one file, each with its line end (the last maybe without),
// read kReadPiece bytes at a time; a line longer than that comes in pieces.
class LineReader {
 public:
  explicit LineReader(platform::InputFile& file) : file_(file) { buffer_.resize(2 * kReadPiece); }

  // The next line or piece, and the offset of its first byte. False at the
  // end (or after an error: see failed).
  bool next(std::string_view& line, std::uint64_t& offset, bool& line_start) {
    line_start = !in_line_;
    std::size_t lf = find_lf();
    if (lf == std::string_view::npos && !eof_) {
      refill();
      lf = find_lf();
    }
    const std::size_t available = end_ - pos_;
    if (available == 0) return false;
    const std::size_t length = lf != std::string_view::npos ? lf - pos_ + 1 : std::min(available, kReadPiece);
    line = std::string_view(buffer_.data() + pos_, length);
    offset = base_ + pos_;
    pos_ += length;
    in_line_ = !line.ends_with('\n');
    return true;
  }
  bool failed() const { return failed_; }

 private:
  std::size_t find_lf() const {
    const void* found = std::memchr(buffer_.data() + pos_, '\n', end_ - pos_);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data())
                 : std::string_view::npos;
  }
  // Keeps what is left of the buffer and reads on behind it.
  void refill() {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    base_ += pos_;
    end_ -= pos_;
    pos_ = 0;
    const long long got = file_.read_at(base_ + end_, buffer_.data() + end_, buffer_.size() - end_);
    if (got < 0) failed_ = true;
    if (got <= 0) eof_ = true;
    if (got > 0) end_ += static_cast<std::size_t>(got);
  }

  platform::InputFile& file_;
  std::string buffer_;
  std::uint64_t base_ = 0;  // file offset of buffer_[0]
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool failed_ = false;
  bool in_line_ = false;
};

// `size` bytes of `file` from `offset`; nullopt when they cannot be read.
std::optional<std::string> read_span(platform::InputFile& file, std::uint64_t offset, std::size_t size) {
  std::string data(size, '\0');
  const long long got = file.read_at(offset, data.data(), size);
  if (got < 0) return std::nullopt;
  data.resize(static_cast<std::size_t>(got));
  return data;
}

std::string offset_text(std::uint64_t offset) {
  return platform::jp("オフセット ") + std::to_string(offset);
}

class FileMailSource final : public MailSource {
 public:
  FileMailSource(std::vector<std::string> paths, FileSourceNote note, FileSourceCounts* counts)
      : paths_(std::move(paths)), note_(std::move(note)), counts_(counts ? counts : &own_counts_) {}

  // Finds the mail files under the paths. Fails only when none of them is
  // any mail at all.
  SourceOutcome open() override {
    for (const std::string& path : paths_) {
      if (platform::folder_exists(path)) {
        add_folder(path);
        continue;
      }
      const std::optional<FileKind> kind = sniff(path, true);
      if (!kind) {
        ++counts_->unusable_paths;
        continue;
      }
      files_.push_back({path, *kind});
    }
    return {};
  }

  bool tls_failed() const override { return false; }

  // Streams through every file once: where each message lies, and its key.
  SourceOutcome list(std::vector<SourceEntry>& entries, bool& has_ids, int& unreadable) override {
    entries.clear();
    has_ids = true;
    unreadable = 0;
    for (std::uint32_t f = 0; f < files_.size(); ++f) {
      const std::unique_ptr<platform::InputFile> file = platform::open_input_file(files_[f].path);
      if (!file) {
        say(files_[f].path + ": " + platform::jp("読めませんでした"));
        ++counts_->unusable_paths;
        continue;
      }
      if (files_[f].kind == FileKind::kMbox) {
        list_mbox(f, *file, entries, unreadable);
      } else {
        list_message(f, *file, entries, unreadable);
      }
    }
    return {};
  }

  SourceOutcome headers(const std::vector<SourceEntry>& messages, const SourceSink& sink) override {
    return each(messages, sink, true);
  }

  SourceOutcome fetch(const std::vector<SourceEntry>& messages, const SourceSink& sink) override {
    return each(messages, sink, false);
  }

  // Files are never changed by an import.
  SourceOutcome mark_deleted(const std::vector<int>&, const std::function<void(int)>&) override {
    return {SourceResult::kRefused, {}};
  }

  SourceOutcome finish() override {
    open_file_.reset();
    return {};
  }

  std::optional<platform::LocalTime> message_time(int number) const override {
    if (number < 1 || static_cast<std::size_t>(number) > located_.size()) return std::nullopt;
    return platform::file_modified_time(files_[located_[static_cast<std::size_t>(number) - 1].file].path);
  }

 private:
  void say(const std::string& line) {
    if (note_) note_(line);
  }

  // What the file holds: an mbox when it begins with a separator line, one
  // message when it begins with a header field (and holds no NUL byte in its
  // first part, as a binary file does). nullopt otherwise; a path given by
  // the user (`given`) is then reported, a file met in a folder counted.
  std::optional<FileKind> sniff(const std::string& path, bool given) {
    const std::unique_ptr<platform::InputFile> file = platform::open_input_file(path);
    std::optional<std::string> head;
    if (file) head = read_span(*file, 0, kSniffBytes);
    if (!head) {
      say(path + ": " + platform::jp("読めませんでした"));
      return std::nullopt;
    }
    const bool binary = head->find('\0') != std::string::npos;
    const std::string_view first(head->data(), std::min(head->size(), head->find('\n')));
    // An mbox may hold a message with NUL bytes (reported alone, later).
    if (is_separator(first)) return FileKind::kMbox;
    if (!binary && is_header_line(first) &&
        (given || ends_with_ascii_ci(path, ".eml"))) {
      return FileKind::kMessage;
    }
    if (given) {
      say(path + ": " + platform::jp("mbox、Maildir、.eml のどれでもないため、取り込みませんでした"));
    } else {
      ++counts_->skipped_files;
    }
    return std::nullopt;
  }

  // A folder: a Maildir when it has cur/ or new/, else a folder whose files
  // and folders are looked at in name order.
  void add_folder(const std::string& folder) {
    const bool maildir = platform::folder_exists(folder + "\\cur") || platform::folder_exists(folder + "\\new");
    if (maildir) {
      for (const char* part : {"cur", "new"}) {
        const std::string sub = folder + "\\" + part;
        for (const std::string& name : platform::find_files(sub + "\\*")) {
          if (!name.starts_with('.')) files_.push_back({sub + "\\" + name, FileKind::kMessage});
        }
      }
    }
    // Names the core cannot hold (no Shift_JIS form) cannot be opened here.
    if (const std::size_t unnamed = platform::find_unlisted_names(folder + "\\*").size(); unnamed > 0) {
      say(folder + ": " + platform::jp("Shift_JISで表せない名前のファイルを ") +
          std::to_string(unnamed) + platform::jp(" 個飛ばしました"));
      counts_->skipped_files += static_cast<int>(unnamed);
    }
    for (const platform::DirEntry& entry : platform::find_entries(folder + "\\*")) {
      const std::string path = folder + "\\" + entry.name;
      if (entry.is_folder) {
        if (maildir && (entry.name == "cur" || entry.name == "new" || entry.name == "tmp")) continue;
        add_folder(path);
      } else if (ends_with_ascii_ci(entry.name, ".msf")) {
        ++counts_->skipped_files;  // Thunderbird's index of the mbox beside it
      } else if (!maildir || !entry.name.starts_with('.')) {
        if (const std::optional<FileKind> kind = sniff(path, false)) files_.push_back({path, *kind});
      }
    }
  }

  // One message found: its key from its text, or the reason it is left out.
  void found(std::uint32_t f, std::uint64_t start, std::uint64_t end, std::uint64_t reported_at,
             const std::string& text, bool too_long, bool nul, std::vector<SourceEntry>& entries,
             int& unreadable) {
    std::string reason;
    if (too_long) {
      reason = platform::jp("メールが大きすぎます（") + std::to_string(kMaxMessageBytes >> 20) +
               platform::jp("MB超）");
    } else if (nul) {
      reason = platform::jp("NULバイトを含むため、メールとして読めません");
    } else if (!is_header_line(std::string_view(text).substr(0, text.find('\n')))) {
      reason = platform::jp("ヘッダーで始まらないため、メールとして読めません");
    }
    if (!reason.empty()) {
      say(files_[f].path + ": " + offset_text(reported_at) + ": " + reason);
      ++unreadable;
      return;
    }
    located_.push_back({f, start, end});
    entries.push_back({static_cast<int>(located_.size()), message_key(text),
                       static_cast<long long>(end - start)});
  }

  void list_mbox(std::uint32_t f, platform::InputFile& file, std::vector<SourceEntry>& entries,
                 int& unreadable) {
    LineReader reader(file);
    std::string_view line;
    std::uint64_t offset = 0;
    bool line_start = true;
    bool after_empty = true;  // the file's start counts as after an empty line
    bool open = false;
    std::uint64_t separator_at = 0;  // the open message's separator line
    std::uint64_t start = 0;
    std::string text;
    bool too_long = false;
    bool nul = false;
    int pending_empty = 0;        // empty lines not yet known to be the message's
    std::size_t last_empty = 0;   // bytes of the last of them
    std::uint64_t file_end = 0;
    bool ends_cut = false;

    const auto close = [&](std::uint64_t at) {
      if (!open) return;
      // The empty line before a separator (or the file's end) is the mbox's.
      const std::uint64_t end = pending_empty > 0 ? at - last_empty : at;
      if (pending_empty > 1 && !too_long) text.append(static_cast<std::size_t>(pending_empty - 1), '\n');
      if (!text.empty() && text.back() != '\n') text += '\n';
      found(f, start, end, separator_at, text, too_long, nul, entries, unreadable);
      open = false;
    };

    while (reader.next(line, offset, line_start)) {
      file_end = offset + line.size();
      ends_cut = !line.ends_with('\n');
      if (line_start && after_empty && is_separator(without_line_end(line))) {
        close(offset);
        open = true;
        separator_at = offset;
        start = offset + line.size();
        text.clear();
        too_long = nul = false;
        pending_empty = 0;
        after_empty = false;
        continue;
      }
      const bool empty = line_start && without_line_end(line).empty() && line.ends_with('\n');
      after_empty = empty;
      if (!open) continue;  // nothing before the first separator is mail
      if (empty) {
        ++pending_empty;
        last_empty = line.size();
        continue;
      }
      if (std::memchr(line.data(), '\0', line.size())) nul = true;
      if (too_long) continue;
      if (pending_empty > 0) text.append(static_cast<std::size_t>(pending_empty), '\n');
      pending_empty = 0;
      append_line(text, line, true, line_start);
      if (text.size() > kMaxMessageBytes) {
        too_long = true;
        text.clear();
      }
    }
    close(file_end);
    if (reader.failed()) {
      say(files_[f].path + ": " + offset_text(file_end) + ": " + platform::jp("ここから先を読めませんでした"));
      ++unreadable;
    } else if (ends_cut) {
      say(files_[f].path + ": " + offset_text(separator_at) + ": " +
          platform::jp("最後のメールが行の途中で終わっています（ファイルが途中で切れているようです）。"
                       "終わっているところまで取り込みます"));
    }
  }

  void list_message(std::uint32_t f, platform::InputFile& file, std::vector<SourceEntry>& entries,
                    int& unreadable) {
    std::optional<std::string> raw = read_span(file, 0, kMaxMessageBytes + 1);
    if (!raw) {
      say(files_[f].path + ": " + platform::jp("読めませんでした"));
      ++unreadable;
      return;
    }
    const bool too_long = raw->size() > kMaxMessageBytes;
    std::string text;
    if (!too_long) text = deliver(*raw, false, false);
    found(f, 0, raw->size(), 0, text, too_long, raw->find('\0') != std::string::npos, entries, unreadable);
  }

  // The message text of `raw` (a message's bytes as they lie in its file),
  // or its header block alone.
  static std::string deliver(std::string_view raw, bool mbox, bool header_only) {
    std::string text;
    text.reserve(raw.size());
    while (!raw.empty()) {
      const std::size_t lf = raw.find('\n');
      const std::string_view line = raw.substr(0, lf == std::string_view::npos ? raw.size() : lf + 1);
      raw.remove_prefix(line.size());
      if (header_only && without_line_end(line).empty()) break;
      append_line(text, line, mbox, true);
    }
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
  }

  SourceOutcome each(const std::vector<SourceEntry>& messages, const SourceSink& sink, bool header_only) {
    SourceMessage read;
    for (const SourceEntry& message : messages) {
      read.number = message.number;
      read.outcome = {};
      read.text.clear();
      if (!read_message(message.number, header_only, read.text)) {
        read.outcome = {SourceResult::kRefused, platform::jp("メールを読めませんでした")};
      }
      if (!sink(read)) break;
    }
    return {};
  }

  // One message's text (or header block) read again from its file. False
  // (and said) when it cannot be read now.
  bool read_message(int number, bool header_only, std::string& text) {
    if (number < 1 || static_cast<std::size_t>(number) > located_.size()) return false;
    const Located& where = located_[static_cast<std::size_t>(number) - 1];
    const MailFile& mail = files_[where.file];
    if (!open_file_ || open_index_ != where.file) {
      open_file_ = platform::open_input_file(mail.path);
      open_index_ = where.file;
    }
    const std::size_t size = static_cast<std::size_t>(where.end - where.start);
    std::optional<std::string> raw;
    if (open_file_) {
      raw = read_span(*open_file_, where.start, header_only ? std::min(size, kHeaderGuessBytes) : size);
      if (raw && header_only && raw->size() < size && raw->find("\n\n") == std::string::npos &&
          raw->find("\n\r\n") == std::string::npos) {
        raw = read_span(*open_file_, where.start, size);
      }
    }
    const bool whole = raw && (header_only || raw->size() == size);
    if (!whole) {
      say(mail.path + ": " + offset_text(where.start) + ": " + platform::jp("メールを読めませんでした"));
      return false;
    }
    text = deliver(*raw, mail.kind == FileKind::kMbox, header_only);
    return true;
  }

  std::vector<std::string> paths_;
  FileSourceNote note_;
  FileSourceCounts own_counts_;
  FileSourceCounts* counts_;
  std::vector<MailFile> files_;
  std::vector<Located> located_;  // by message number - 1
  std::unique_ptr<platform::InputFile> open_file_;
  std::uint32_t open_index_ = 0;
};

}  // namespace

std::unique_ptr<MailSource> make_file_source(std::vector<std::string> paths, FileSourceNote note,
                                             FileSourceCounts* counts) {
  return std::make_unique<FileMailSource>(std::move(paths), std::move(note), counts);
}

}  // namespace larkspur
