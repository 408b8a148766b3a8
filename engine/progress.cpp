#include "engine/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "engine/console.h"
#include "engine/signal_cleanup.h"

namespace {

constexpr int64_t kFirstDrawAfter = 500'000'000;  // nanoseconds: quick files never show a line
constexpr int64_t kRedrawEvery = 250'000'000;
constexpr std::string_view kEraseLine = "\r\033[K";

// One file is in work at a time, so one process-wide record serves every engine.
struct ProgressState {
  std::atomic<bool> active{false};
  std::atomic<uint64_t> done{0};
  std::atomic<int64_t> nextDraw{0};
  std::mutex drawing;  // guards what follows and the terminal line itself
  std::string file;
  uint64_t total = 0;
  int64_t start = 0;
  size_t width = 80;
  bool shown = false;
  bool silenced = false;
};

ProgressState progress;

int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool StandardErrorIsTerminal() {
  static const bool terminal = ::isatty(STDERR_FILENO) == 1;
  return terminal;
}

size_t TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The terminal line is a nicety: a failed write is not worth a message.
void WriteToTerminal(std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(size_t(written));
  }
}

void EraseIfShown() {
  if (!progress.shown) return;
  WriteToTerminal(kEraseLine);
  progress.shown = false;
  SetProgressLineShown(false);
}

std::string Duration(uint64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", (unsigned long long)(seconds / 3600),
                  (unsigned long long)(seconds / 60 % 60), (unsigned long long)(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", (unsigned long long)(seconds / 60),
                  (unsigned long long)(seconds % 60));
  }
  return text;
}

// UTF-8 continuation bytes take no column of their own.
bool StartsColumn(char byte) { return (uint8_t(byte) & 0xC0) != 0x80; }

// The name as it may be shown: no control byte reaches the terminal, and a name
// too long for `columns` keeps its end, the part that tells files apart.
std::string ShownName(std::string_view file, size_t columns) {
  std::string name(file);
  for (char& byte : name) {
    if (uint8_t(byte) < 0x20 || byte == 0x7F) byte = '?';
  }
  size_t width = size_t(std::count_if(name.begin(), name.end(), StartsColumn));
  if (width <= columns) return name;
  if (columns < 4) return "";
  size_t cut = 0;
  for (size_t drop = width - (columns - 3); drop > 0; --drop) {
    do ++cut;
    while (cut < name.size() && !StartsColumn(name[cut]));
  }
  return "..." + name.substr(cut);
}

}  // namespace

std::string ProgressLine(std::string_view file, uint64_t done, uint64_t total, uint64_t elapsedNanoseconds,
                         size_t width) {
  done = std::min(done, total);
  double seconds = double(elapsedNanoseconds) / 1e9;
  double bytesPerSecond = seconds > 0 ? double(done) / seconds : 0;
  unsigned percent = total == 0 ? 100 : unsigned(double(done) * 100 / double(total));
  std::string timeLeft = "--:--";
  double secondsLeft = bytesPerSecond > 0 ? double(total - done) / bytesPerSecond : -1;
  if (secondsLeft >= 0 && secondsLeft < 1e6) timeLeft = Duration(uint64_t(secondsLeft + 0.999));
  // A slow device still shows movement: one decimal below 10 MB/s.
  double mebibytesPerSecond = bytesPerSecond / (1 << 20);
  char text[96];
  std::snprintf(text, sizeof text, " %3u%% %.*f MB/s ETA %s", percent, mebibytesPerSecond < 10 ? 1 : 0,
                mebibytesPerSecond, timeLeft.c_str());
  std::string figures = text;
  // The last column stays free: writing into it makes some terminals wrap.
  size_t room = width > figures.size() + 1 ? width - 1 - figures.size() : 0;
  return ShownName(file, room) + figures;
}

ProgressScope::ProgressScope(std::string_view file, uint64_t totalBytes) {
  // A file transformed beside others has its lines printed later; a line now would mislead.
  if (totalBytes == 0 || !StandardErrorIsTerminal() || CapturingMessages()) return;
  std::lock_guard lock(progress.drawing);
  progress.file = file;
  progress.total = totalBytes;
  progress.start = MonotonicNanoseconds();
  progress.width = TerminalWidth();
  progress.shown = false;
  progress.silenced = false;
  progress.done.store(0, std::memory_order_relaxed);
  progress.nextDraw.store(progress.start + kFirstDrawAfter, std::memory_order_relaxed);
  progress.active.store(true, std::memory_order_release);
}

ProgressScope::~ProgressScope() {
  if (!progress.active.load(std::memory_order_acquire)) return;
  std::lock_guard lock(progress.drawing);
  progress.active.store(false, std::memory_order_relaxed);
  EraseIfShown();
}

void ProgressAdvance(uint64_t bytes) {
  if (!progress.active.load(std::memory_order_acquire)) return;
  progress.done.fetch_add(bytes, std::memory_order_relaxed);
  int64_t now = MonotonicNanoseconds();
  if (now < progress.nextDraw.load(std::memory_order_relaxed)) return;
  // Another worker drawing right now has it covered.
  std::unique_lock lock(progress.drawing, std::try_to_lock);
  if (!lock.owns_lock() || !progress.active.load(std::memory_order_relaxed) || progress.silenced ||
      now < progress.nextDraw.load(std::memory_order_relaxed)) {
    return;
  }
  progress.nextDraw.store(now + kRedrawEvery, std::memory_order_relaxed);
  std::string line = ProgressLine(progress.file, progress.done.load(std::memory_order_relaxed),
                                  progress.total, uint64_t(now - progress.start), progress.width);
  WriteToTerminal("\r" + line + "\033[K");
  progress.shown = true;
  SetProgressLineShown(true);
}

void ProgressSilence() {
  if (!progress.active.load(std::memory_order_acquire)) return;
  std::lock_guard lock(progress.drawing);
  progress.silenced = true;
  EraseIfShown();
}
