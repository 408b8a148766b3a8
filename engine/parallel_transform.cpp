#include "engine/parallel_transform.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/console.h"
#include "engine/progress.h"
#include "engine/report.h"
#include "engine/signal_cleanup.h"
#include "engine/source_removal.h"

namespace {

enum Failure : int { kNoFailure, kReadFailure, kWriteFailure, kOutOfMemory };

// What the workers of one run share. Chunks are handed out in file order by one counter.
struct ParallelRun {
  const SourceFile& source;
  const OutputFile& output;
  Mode mode;
  const Cipher& keyed;
  uint64_t chunkCount;
  std::atomic<uint64_t> nextChunk{0};
  std::atomic<int> failure{kNoFailure};
  int failureError = 0;  // errno of the first failure, written by whoever set `failure`
  // The kernel serialises buffered writes to one file anyway; taking turns here keeps
  // the waiting workers off the file's lock in the kernel, where they would spin.
  std::mutex writeTurn{};
  std::atomic<bool> nextInLine{false};
};

// Sending a worker to sleep and waking it costs a good part of the time a chunk takes
// to write, so the next worker in line spins for its turn, a bounded while; any others
// sleep.
void TakeWriteTurn(ParallelRun& run) {
  constexpr int kSpins = 4000;  // a few hundred microseconds at most
  if (!run.nextInLine.exchange(true, std::memory_order_acquire)) {
    bool taken = false;
    for (int i = 0; i < kSpins && !taken; ++i) {
      taken = run.writeTurn.try_lock();
      if (!taken) __builtin_ia32_pause();
    }
    run.nextInLine.store(false, std::memory_order_release);
    if (taken) return;
  }
  run.writeTurn.lock();
}

void Fail(ParallelRun& run, Failure failure, int error = 0) {
  int expected = kNoFailure;
  if (run.failure.compare_exchange_strong(expected, failure)) run.failureError = error;
}

void TransformChunks(ParallelRun& run) {
  Cipher cipher = run.keyed;
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kChunkSize);
  while (run.failure.load(std::memory_order_relaxed) == kNoFailure) {
    uint64_t chunk = run.nextChunk.fetch_add(1);
    if (chunk >= run.chunkCount) break;
    uint64_t offset = chunk * kChunkSize;
    size_t length = size_t(std::min<uint64_t>(kChunkSize, run.source.size - offset));
    // A short read means the source shrank underneath us: never write a wrong length.
    ssize_t count = ReadFullAt(run.source.handle.fd, buffer.get(), length, offset);
    if (count != ssize_t(length)) {
      Fail(run, kReadFailure, count < 0 ? errno : 0);
      break;
    }
    Seek(cipher, offset);
    if (run.mode == Mode::decrypt) {
      Decrypt(cipher, buffer.get(), buffer.get(), length);
    } else {
      Encrypt(cipher, buffer.get(), buffer.get(), length);
    }
    int fd = run.output.handle.fd;
    bool written;
    {
      TakeWriteTurn(run);
      std::lock_guard turn(run.writeTurn, std::adopt_lock);
      written = run.output.seekable ? WriteFullAt(fd, buffer.get(), length, offset)
                                    : WriteFull(fd, buffer.get(), length);
    }
    if (!written) {
      Fail(run, kWriteFailure, errno);
      break;
    }
    ProgressAdvance(length);
  }
}

// Memory running out on one worker stops them all; the caller learns of it once they are joined.
void TransformWorker(ParallelRun& run) {
  try {
    TransformChunks(run);
  } catch (const std::bad_alloc&) {
    Fail(run, kOutOfMemory);
  }
}

// Starts workers - 1 threads and works on the calling thread as well, so a run
// goes on even when no thread can be started.
void RunWorkers(ParallelRun& run, unsigned workers) {
  std::vector<std::jthread> threads;
  SignalsHeld held;  // the workers keep signals held; only the main thread handles them
  for (unsigned i = 1; i < workers; ++i) {
    try {
      threads.emplace_back(TransformWorker, std::ref(run));
    } catch (const std::system_error&) {
      break;
    }
  }
  TransformWorker(run);
}

}  // namespace

unsigned ProcessorCount() {
  static const unsigned count = [] {
    cpu_set_t set;
    int found = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    if (found < 1) found = int(std::thread::hardware_concurrency());
    return unsigned(std::clamp(found, 1, 256));
  }();
  return count;
}

TransformOutcome TransformFileParallel(const FileTask& task, SourceFile& source, const Cipher& keyed,
                                       unsigned workers) {
  PrintHeader(task.mode);
  Cause cause;
  OutputFile output;
  if (!OpenOutput(output, task.target, source, cause)) {
    PrintFailure("target could not be opened!\n", task.target, cause);
    return TransformOutcome::failed;
  }
  if (!ReserveOutput(output, source.size, cause)) {
    PrintFailure("target could not be written!\n", task.target, cause);
    return TransformOutcome::failed;
  }
  // Pipes and devices take their bytes in order, so one worker writes them.
  if (workers == 0) workers = ProcessorCount();
  if (!output.seekable) workers = 1;

  ParallelRun run{source, output, task.mode, keyed, (source.size + kChunkSize - 1) / kChunkSize};
  ProgressScope progress(task.input, source.size);
  uint64_t start = ProcessCpuNanoseconds();
  RunWorkers(run, workers);
  uint64_t end = ProcessCpuNanoseconds();

  if (run.failure == kOutOfMemory) throw std::bad_alloc();
  if (run.failure == kNoFailure && !SourceUnchanged(source, cause)) {
    PrintFailure("source could not be read!\n", task.input, cause);
    return TransformOutcome::failed;
  }
  if (run.failure == kReadFailure) {
    PrintFailure("source could not be read!\n", task.input,
                 run.failureError ? Cause{run.failureError} : PhraseCause(kChangedWhileRead));
    return TransformOutcome::failed;
  }
  if (run.failure == kWriteFailure) cause = Cause{run.failureError};
  if (run.failure == kWriteFailure || !CommitOutput(output, task.output, cause)) {
    PrintFailure("target could not be written!\n", task.target, cause);
    return TransformOutcome::failed;
  }
  bool removed = RemoveSourceIfAsked(task, source, output);
  PrintFileLines(task.input, task.target);
  PrintSpeedLine("effective speed:", source.size, end - start);
  return removed ? TransformOutcome::done : TransformOutcome::failed;
}
