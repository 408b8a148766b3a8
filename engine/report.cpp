#include "engine/report.h"

#include <ctime>

#include "engine/console.h"

void PrintHeader(Mode mode) { PrintNote(mode == Mode::decrypt ? "DECRYPTING\n" : "ENCRYPTING\n"); }

std::string SpeedFigure(uint64_t bytes, uint64_t nanoseconds) {
  if (nanoseconds == 0) return "-";
  // bytes * 10^9 overflows 64 bits from 18 GB on.
  unsigned __int128 figure = (unsigned __int128)bytes * 1000000000u / ((unsigned __int128)nanoseconds << 20);
  return std::to_string(uint64_t(figure));
}

void PrintFileLines(std::string_view input, std::string_view target) {
  PrintNote("input file: ");
  PrintNote(input);
  PrintNote("\noutput file:");
  PrintNote(target);
  PrintNote("\n");
}

void PrintSpeedLine(std::string_view label, uint64_t bytes, uint64_t nanoseconds) {
  PrintNote(label);
  PrintNote(SpeedFigure(bytes, nanoseconds));
  PrintNote("MB/s\n");
  FlushConsole();
}

void PrintFailure(std::string_view message, std::string_view path, const Cause& cause) {
  Print(message);
  PrintCause(path, cause);
}

void PrintCause(std::string_view path, const Cause& cause) {
  std::string line = "quillfort: ";
  // A name is shown, never obeyed: no control byte of it reaches the terminal.
  for (char byte : path) line += uint8_t(byte) < 0x20 || byte == 0x7F ? '?' : byte;
  line += ": ";
  line += CauseText(cause);
  line += '\n';
  PrintToStandardError(line);
}

namespace {
uint64_t CpuNanoseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}
}  // namespace

uint64_t ProcessCpuNanoseconds() { return CpuNanoseconds(CLOCK_PROCESS_CPUTIME_ID); }
uint64_t ThreadCpuNanoseconds() { return CpuNanoseconds(CLOCK_THREAD_CPUTIME_ID); }
