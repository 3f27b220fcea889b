// The only door from Larkspur's core to the operating system.
//
// Every text that crosses this header is Shift_JIS bytes held in std::string,
// and every path is a Shift_JIS path relative to the current working folder
// with '\' as the separator ("LKset\Weekly\web\menu.htm"). The implementations
// (win32/ and posix/) convert at the OS boundary only: to UTF-16 through code
// page 932 on Windows, to UTF-8 through iconv's CP932 on Linux. A path is
// converted whole first and only then is U+005C mapped to the native separator,
// so a 0x5C trail byte (ソ, 表, 十) is never taken for a separator. A path that
// cannot be converted makes the operation fail; it never names a mangled file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur::platform {

// ---------------------------------------------------------------- text

// Strict conversions: nullopt when a byte sequence has no counterpart.
std::optional<std::string> sjis_to_utf8(std::string_view sjis);
std::optional<std::string> utf8_to_sjis(std::string_view utf8);

// Lenient conversion for text shown to a person (console, window text):
// invalid Shift_JIS (say a name cut inside a character) shows U+FFFD.
std::string sjis_to_utf8_display(std::string_view sjis);

// UTF-16 (say the command line of wmain) as UTF-8; an unpaired surrogate
// becomes U+FFFD. Never fails.
std::string utf16_to_utf8_replacing(std::u16string_view utf16);

#ifdef _WIN32
// Windows only: the same conversions to and from UTF-16 for the W functions.
std::optional<std::wstring> sjis_to_wide(std::string_view sjis);
std::wstring sjis_to_wide_display(std::string_view sjis);
std::optional<std::string> wide_to_sjis(std::wstring_view wide);
#endif

// Shift_JIS form of a UTF-8 literal written in our sources, for the system's
// fixed Japanese texts. The literal must be convertible; it is a programming
// error otherwise (the result is then empty).
std::string jp(std::string_view utf8_literal);

// True for a byte that starts a double-byte Shift_JIS character: the one
// test every reader of Shift_JIS text steps through characters with.
constexpr bool is_sjis_lead_byte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// ------------------------------------------------------- full-text search

// Shift_JIS text as UTF-16, for the full-text search; bytes that are no
// Shift_JIS show as U+FFFD. Never fails.
std::u16string sjis_to_utf16_display(std::string_view sjis);

// The Shift_JIS code (lead << 8 | trail, or the byte of a half-width
// katakana) in which the search index's text files hold `unit`: only the
// characters of the JIS X 0208 rows (lead bytes 0x81-0x9F and 0xE0-0xEA),
// which every Shift_JIS decoder (a browser's too) maps alike, and half-width
// katakana; 0 for any other unit.
std::uint16_t search_sjis_code(char16_t unit);
// The unit of a double-byte code search_sjis_code gives; 0 for another code.
char16_t search_sjis_unit(std::uint16_t code);

// UTF-8 (what the search index files hold) as UTF-16; nullopt on an invalid
// sequence.
std::optional<std::u16string> utf8_to_utf16(std::string_view utf8);

// The form in which the full-text search compares text: NFKC (full-width
// ASCII to ASCII, half-width kana to full-width), then the default
// (locale-independent) lower case, which is exactly what a browser's
// text.normalize("NFKC").toLowerCase() gives. Unpaired surrogates pass
// unchanged. Never fails; on an internal error the text comes back as is.
std::u16string fold_for_search(std::u16string_view text);

// ---------------------------------------------------------- mail charsets

// `bytes` in the MIME charset `charset` (its name in any case: "UTF-8",
// "UTF-7", "ISO-8859-15", "windows-1252", "EUC-KR"...) as Shift_JIS (CP932).
// A character without a CP932 form becomes the HTML numeric reference
// "&#x1F600;" (upper-case hex digits); the characters on which CP932 and the
// JIS mappings differ (〜 − ‖ — ¢ £ ¬) take their CP932 codes, so both builds
// give the same bytes. A literal "&" followed by "#" is written "&#x26;", so
// every "&#" of the result begins a reference that stands for one character.
// nullopt when the charset is not one both builds know (the Japanese
// charsets are converted by the caller) or `bytes` are not valid text in it.
std::optional<std::string> charset_to_sjis(std::string_view charset, std::string_view bytes);

// UTF-8 as charset_to_sjis gives it, but never failing: each byte that
// begins no valid character becomes "&#xFFFD;" and the next byte is read
// afresh. Also how many such bad bytes there were and how many characters of
// two or more bytes, for the caller to judge whether the text is UTF-8 at all.
struct LenientUtf8 {
  std::string sjis;
  std::size_t bad_bytes = 0;
  std::size_t multibyte_characters = 0;
};
LenientUtf8 utf8_to_sjis_lenient(std::string_view bytes);

// ------------------------------------------------------ directory search

// Base names of the files that match `pattern`, a folder path plus a last
// component with one '*' ("LKset\*.stf", "LKset\Weekly\*.log", "set\*.htm",
// "LKset\Weekly\web\*.*"). "*.*" and "*" match every entry; "*.ext" matches
// exactly the extension ".ext", ignoring ASCII case ("x.stfx" is no ".stf").
// Folders are never returned, nor "." and "..". A missing folder gives an empty
// result. Names come in one fixed order on every platform: ascending by their
// UTF-16 code units after upper-casing, the order of an NTFS directory search.
// Names that cannot be expressed in Shift_JIS are left out.
std::vector<std::string> find_files(std::string_view pattern);

// Like find_files, but also reports the sub-folders that match (flagged), in
// the same order; used where every entry of a folder must be gathered.
struct DirEntry {
  std::string name;
  bool is_folder = false;
};
std::vector<DirEntry> find_entries(std::string_view pattern);

// ---------------------------------------------------------------- files

// The whole file, or its first `max_bytes` bytes; nullopt when it cannot be
// opened for reading (missing, a folder, no permission, unconvertible name).
std::optional<std::string> read_file(std::string_view path,
                                     std::size_t max_bytes = SIZE_MAX);

// True when the file exists and can be opened for reading.
bool can_read_file(std::string_view path);

// Writes `data` as the whole new content of `path`, atomically: the bytes go to
// "~<name>.tmp" in the same folder first, which then replaces `path`. A failure
// at any point leaves the old file (or its absence) untouched, removes the
// temporary file and returns false. No search pattern of the system
// ("*.stf", "*.log", "*.htm") matches a temporary name. The new content is
// forced to disk before it replaces the old, so not even a system crash
// leaves a record empty. Two threads writing one path take turns.
bool write_file_atomic(std::string_view path, std::string_view data);

// Like write_file_atomic (temporary "~<name>.tmp", then replace; a failure
// leaves the old file untouched and removes the temporary), but without
// forcing the data to disk first: for files that can be regenerated, such as
// the generated web pages. A system crash may leave such a file empty.
bool write_file_fast(std::string_view path, std::string_view data);

// Like write_file_fast, but the temporary file is `temp_path` (a private name
// in any folder of the same file system) instead of "~<name>.tmp" next to
// `path`: for a folder that must never hold anything but its own files.
bool write_file_fast_via(std::string_view path, std::string_view temp_path, std::string_view data);

// Like write_file_fast (under `path` only ever the old or the complete new
// content), but without a new file for each write where the system can
// exchange two names in one step (Linux): the bytes go into the spare file
// `spare_path` (a private name in a folder of the same file system, made on
// first use), which then trades names with `path`, so the replaced content
// becomes the next spare. Elsewhere, or when the spare is no plain file of its
// own, as write_file_fast with its temporary next to `spare_path`. For a file
// rewritten again and again (a link page): file systems that are slow to make
// files never have to.
bool write_file_reusing(std::string_view path, std::string_view spare_path, std::string_view data);

// Like write_file_atomic, but fails (returns false, writes nothing) when
// `path` exists already: the file is created only if it was not there.
bool create_file_exclusive(std::string_view path, std::string_view data);

// Like create_file_exclusive, but without forcing the data to disk: for a
// batch of new files that force_to_disk then forces all at once, before
// anything relies on them.
bool create_file_exclusive_deferred(std::string_view path, std::string_view data);

// Appends `data` to the file `path` (made when missing), in one write, not
// forced to disk. For a record file that grows a line at a time: a writer
// killed in the middle leaves at worst a last line without its LF, which
// readers skip. True when all of `data` was written.
bool append_to_file(std::string_view path, std::string_view data);

// Forces the data and names of the files `paths` to disk. True when it did
// for every one (an empty list is true).
bool force_to_disk(const std::vector<std::string>& paths);

// A file read a piece at a time from any offset, so that a file of any size
// is read with a buffer of the caller's size (an mbox of gigabytes).
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to `capacity` bytes from byte `offset` into `buffer`: the count
  // read (fewer only at the end of the file, 0 past it), -1 on an error.
  virtual long long read_at(std::uint64_t offset, char* buffer, std::size_t capacity) = 0;
};
// nullptr when `path` cannot be opened for reading (missing, a folder, no
// permission, unconvertible name).
std::unique_ptr<InputFile> open_input_file(std::string_view path);

bool delete_file(std::string_view path);     // true when removed

// True when the entry `path` itself is a symbolic link, a junction or any
// other reparse point (it is looked at, not followed). Such an entry may lead
// out of the working folder: whatever deletes must not go through it.
bool is_link(std::string_view path);
// Removes the link entry `path` itself, never anything it leads to. False
// (nothing removed) when `path` is no link (see is_link) or cannot go.
bool remove_link(std::string_view path);
bool remove_folder(std::string_view path);   // only an empty folder; true when removed

// Moves the file `path` to `aside_path` (in a folder of the same file system),
// replacing a file there; refused where deleting `path` would be (Windows: a
// read-only file too, which a rename alone would move). The rebuild's hold
// below tests a deletion this way; the search index moves a finished
// generation's files into place with it.
bool set_aside(std::string_view path, std::string_view aside_path);

// The replacement of a page by the full rebuild, its only caller. The
// rebuild deletes every page of a web folder and then writes most of them
// again, mostly with the bytes they had; holding each file instead of deleting
// it keeps an unchanged page unwritten, while whether it may go is still
// decided by the system's own deletion rules. Only Linux can read those rules
// without trying (folder access, ownership, immutable and append-only flags),
// so only there is a file held in place; elsewhere, and for links and files of
// other owners, the test is to move the file aside, which a deletion's rules
// govern alike. Every other page is written with write_file_fast_via or
// write_file_reusing.
enum class FileHold {
  kRefused,   // it may not be deleted (as delete_file would refuse); untouched
  kInPlace,  // it may be deleted and stays under its name until replaced or deleted
  kAside,     // it was moved to `aside_path` (a private name that no search
             // pattern matches, in a folder of the same file system, replacing
             // a file there); on Windows a read-only file is refused, as by
             // DeleteFile, though a rename alone would move it
};
FileHold hold_for_replacement(std::string_view path, std::string_view aside_path);

// Gives `path`, held by `hold` (kInPlace or kAside) with the same
// `aside_path`, the content `data`, reusing the held file where it is a
// plain file of its own (no link, no second hard link, not read-only), with
// no write at all when it holds these bytes already; otherwise the held file
// is removed and `path` is written as by write_file_fast, with the temporary
// next to `aside_path`. Under `path` there is only ever the old or the
// complete new content, or (after a failure) none. True when `path` holds
// `data`; with nothing at `aside_path`, `path` is written afresh.
bool replace_held(FileHold hold, std::string_view path, std::string_view aside_path, std::string_view data);

bool create_folder(std::string_view path);   // true when created or already a folder
bool folder_exists(std::string_view path);

// One state of a file or folder, told cheaply: writing the file, replacing it,
// or adding, removing or renaming an entry of the folder gives another stamp
// (short of two changes of equal size within one tick of the file system's
// clock). Compared, never interpreted, but for the times being the file
// system's clock: a later change gives a time no smaller.
struct FileStamp {
  std::uint64_t size = 0;
  std::uint64_t modified = 0;
  std::uint64_t changed = 0;  // status change (POSIX) or creation (Windows)
  std::uint64_t id = 0;       // inode number; 0 where not known
  bool operator==(const FileStamp&) const = default;
};
// nullopt when nothing is at `path` or it cannot be looked at.
std::optional<FileStamp> file_stamp(std::string_view path);

// Changes the process's working folder; false when it cannot.
bool change_folder(std::string_view path);

// ------------------------------------------------------------- time

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime local_time();
// The local time of the moment `utc_seconds` after 1970-01-01 00:00 UTC, in
// the system's time zone; nullopt outside what the system converts.
std::optional<LocalTime> local_time_at(std::int64_t utc_seconds);
// The local time `path` (a file or folder) was last written; nullopt when
// it cannot be looked at.
std::optional<LocalTime> file_modified_time(std::string_view path);
void sleep_ms(int milliseconds);
// Milliseconds from an arbitrary fixed point, never going backwards.
std::int64_t monotonic_ms();

// -------------------------------------------------------- file lock

// An exclusive OS lock on a file, held by the process for as long as the
// object lives, released by the OS if the process dies. Used to let only one
// receive job run in a working folder across processes.
class FileLock {
 public:
  virtual ~FileLock() = default;
};
// nullptr when another holder (this or another process) has the lock, or the
// lock file cannot be made.
std::unique_ptr<FileLock> try_lock_file(std::string_view path);

// Why try_lock_file gave nullptr: `busy` while another holder (this or another
// process) has the lock, `unavailable` when the lock file cannot be made or
// opened at all (read-only folder, a folder of that name), so waiting for it
// would be in vain.
enum class LockAttempt { kTaken, kBusy, kUnavailable };
std::unique_ptr<FileLock> try_lock_file(std::string_view path, LockAttempt& attempt);

// ------------------------------------------------------------- sockets

// Starts the socket library. Returns true when it started and granted the
// version the client asks for (1.1 on Windows; always true on POSIX).
bool net_startup();
void net_cleanup();

// A resolved server address (opaque).
struct NetAddress {
  std::vector<std::uint8_t> bytes;  // a sockaddr, copied
};
// Resolves `host` (name, dotted IPv4, or IPv6 literal without brackets) with
// `port`; IPv4 results are preferred. nullopt when it cannot be resolved.
std::optional<NetAddress> resolve(std::string_view host, int port);

// A blocking TCP client connection. connect, send and receive run on one
// thread; abort() may be called from any other thread at any time and makes a
// connect or receive that is blocked (or comes later) fail at once.
class TcpConnection {
 public:
  virtual ~TcpConnection() = default;
  // Bytes sent; false on an error or after abort().
  virtual bool send_all(std::string_view data) = 0;
  // Receives up to `capacity` bytes into `buffer`: >0 bytes received, 0 the
  // peer closed the connection, -1 error, time-out or abort(). Waits at most
  // `timeout_ms` for data; 0 or less only takes what has arrived already.
  virtual int receive(char* buffer, int capacity, int timeout_ms) = 0;
  virtual void abort() = 0;
};
// Connects with a time-out; nullptr on failure. `aborted`, when given, is
// polled (every 50 ms at most) while connecting, so another thread can cut a
// connect short.
std::unique_ptr<TcpConnection> tcp_connect(const NetAddress& address,
                                           int timeout_ms,
                                           const std::function<bool()>& aborted = {});

// ---------------------------------------------------------------- TLS

// Why a TLS handshake did not give a verified connection.
enum class TlsError {
  kNone,
  kUnknownIssuer,   // the chain does not lead to a root the system trusts
  kWrongName,       // the certificate is not for the host name asked for
  kExpired,         // the certificate (or one of its chain) is not valid now
  kBadCertificate,  // any other reason the certificate was refused
  kHandshakeFailed, // no TLS 1.2 or newer session came about (closed, time-out,
                    // abort, not a TLS server, no common parameters)
};

// A TLS client session carried over another connection. Until handshake()
// has returned kNone, send_all and receive fail. receive() gives decrypted
// bytes (0 once the peer closed, -1 on error, time-out or abort); abort()
// aborts the carrying connection, from any thread.
class TlsConnection : public TcpConnection {
 public:
  // Runs the handshake (TLS 1.2 or newer, the host name sent as SNI unless it
  // is an IP address) and verifies the server's certificate: a chain to a
  // root the operating system trusts, valid now, issued for `host` as given
  // to tls_client. Nothing is sent over the connection but the handshake
  // before this has succeeded. Waits at most `timeout_ms` in all.
  virtual TlsError handshake(int timeout_ms) = 0;
};

// A TLS client over `transport` (already connected, nothing of the TLS
// session sent yet) for the server named `host` (a host name or an IP
// literal without brackets). nullptr when the TLS library cannot be set up.
std::unique_ptr<TlsConnection> tls_client(std::shared_ptr<TcpConnection> transport,
                                          std::string_view host);

// ------------------------------------------------------------- shell

// Opens a file or address with the desktop's default action (ShellExecute on
// Windows, xdg-open on Linux). `path` is a stored Shift_JIS path. Result not
// examined by callers; false when nothing could be started.
bool open_with_shell(std::string_view path);

// True when standard input is an interactive terminal (console), so a
// command-line front end may ask a question there.
bool stdin_is_terminal();

// ------------------------------------------------ directory search (quick)

// True when find_files(pattern) would return at least one name. Stops at the
// first matching file instead of listing and sorting the whole folder.
bool any_file_matches(std::string_view pattern);

// The files matching `pattern` that find_files leaves out because their names
// cannot be expressed in Shift_JIS (or hold a backslash on Linux), as UTF-8
// for a person to read (bytes that are no UTF-8 show as U+FFFD), sorted.
// Lets a front end say what it could not show.
std::vector<std::string> find_unlisted_names(std::string_view pattern);

}  // namespace larkspur::platform

// Threads and mutexes: the core uses std::thread, std::mutex and std::atomic
// directly. Both builds provide them (the Windows build uses mingw-w64's posix
// thread model, linked statically), so no wrapper is needed here.
