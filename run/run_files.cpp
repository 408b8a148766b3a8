#include "run/run_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "cipher/cipher.h"
#include "engine/console.h"
#include "engine/output_commit.h"
#include "engine/parallel_transform.h"
#include "engine/report.h"
#include "engine/signal_cleanup.h"
#include "engine/source_removal.h"
#include "run/replace_question.h"
#include "run/transform_file.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// One input's part of what the run prints, in the run's order. A file transformed on
// a worker fills its block there; everything else is ready as soon as it is made.
struct Step {
  MessageBlock block;
  bool ready = false;  // guarded by the pool's lock while a worker has it
  bool failed = false;
  bool outOfMemory = false;
  FileTask task;
  SourceFile source;
};

// Workers that transform one small file each, one worker per processor.
struct FilePool {
  std::mutex lock;
  std::condition_variable work;
  std::condition_variable finished;
  std::deque<Step*> waiting;
  bool closing = false;
  // Who sleeps, so that nobody is woken for nothing: a file takes a few tens of
  // microseconds, about what a needless wake-up costs.
  unsigned idleWorkers = 0;
  bool mainWaiting = false;
  const Cipher* keyed = nullptr;
  std::vector<std::jthread> threads;

  FilePool() = default;
  FilePool(const FilePool&) = delete;
  FilePool& operator=(const FilePool&) = delete;
  ~FilePool() {
    {
      std::lock_guard hold(lock);
      closing = true;
      waiting.clear();  // ending early (memory ran out): what has not begun never will
    }
    work.notify_all();
    threads.clear();  // joins
  }
};

void Transform(FilePool& pool, Step& step) {
  CaptureMessages(&step.block);
  try {
    step.failed = TransformOpened(step.task, step.source, *pool.keyed) != TransformOutcome::done;
  } catch (const std::bad_alloc&) {
    step.outOfMemory = true;
  }
  CaptureMessages(nullptr);
  step.source.handle.Close();
}

void Work(FilePool& pool) {
  for (;;) {
    Step* step;
    {
      std::unique_lock hold(pool.lock);
      ++pool.idleWorkers;
      pool.work.wait(hold, [&] { return pool.closing || !pool.waiting.empty(); });
      --pool.idleWorkers;
      if (pool.waiting.empty()) return;
      step = pool.waiting.front();
      pool.waiting.pop_front();
    }
    Transform(pool, *step);
    bool wake;
    {
      std::lock_guard hold(pool.lock);
      step->ready = true;
      wake = pool.mainWaiting;
    }
    if (wake) pool.finished.notify_one();
  }
}

// Waits on the main thread until a step is done.
void WaitUntilReady(FilePool& pool, const Step& step) {
  std::unique_lock hold(pool.lock);
  pool.mainWaiting = true;
  pool.finished.wait(hold, [&] { return step.ready; });
  pool.mainWaiting = false;
}

// Starts the workers with signals held, so that only the main thread handles them.
// None may start (no memory for a stack): the main thread then does the work itself.
void StartWorkers(FilePool& pool, unsigned count) {
  SignalsHeld held;
  for (unsigned i = 0; i < count; ++i) {
    try {
      pool.threads.emplace_back(Work, std::ref(pool));
    } catch (const std::system_error&) {
      break;
    }
  }
}

// Folders of a mirrored tree, made as the files that go into them come up. Each is
// made open to its owner, so that files can go in whatever the folder it mirrors
// allows, and gets its own bits once the run is over.
struct MirroredFolders {
  std::vector<std::pair<std::string, mode_t>> made;

  void MakeFor(const PlannedInput& planned) {
    std::string folder = FolderOf(planned.target);
    if (folder.size() < planned.mirrorTarget.size()) return;
    std::string below = folder.substr(planned.mirrorTarget.size());
    std::vector<std::pair<std::string, std::string>> chain{{planned.mirrorTarget, planned.mirrorSource}};
    for (size_t slash = below.find('/', 1); !below.empty(); slash = below.find('/', slash + 1)) {
      std::string part = below.substr(0, slash);
      chain.emplace_back(planned.mirrorTarget + part, planned.mirrorSource + part);
      if (slash == std::string::npos) break;
    }
    for (const auto& [target, source] : chain) {
      struct stat status {};
      if (::stat(target.c_str(), &status) == 0) continue;
      if (::stat(source.c_str(), &status) != 0) status.st_mode = 0755;
      mode_t bits = status.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID);
      // A failure shows when the output cannot be opened there, with its cause.
      if (::mkdir(target.c_str(), 0700) != 0) return;
      ::chmod(target.c_str(), bits | S_IRWXU);
      made.emplace_back(target, bits);
    }
  }

  ~MirroredFolders() {
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) {
      ::chmod(folder->first.c_str(), folder->second);
    }
  }
};

// Walks the plan in order; prints every step's block in that order, whichever worker
// finishes first.
struct FileRun {
  const RunOptions& options;
  Conversation* conversation;
  Cipher keyed{};  // keyed once, when the first input reaches an engine
  int status = kSuccess;
  MirroredFolders folders{};
  std::deque<std::unique_ptr<Step>> unprinted{};
  std::unique_ptr<FilePool> pool{};  // gone first: its workers hold steps of `unprinted`

  void PrintReady(bool wait) {
    while (!unprinted.empty()) {
      Step& front = *unprinted.front();
      if (pool) {
        bool ready;
        {
          std::lock_guard hold(pool->lock);
          ready = front.ready;
        }
        if (!ready && !wait) return;
        if (!ready) WaitUntilReady(*pool, front);
      }
      PrintBlock(front.block);
      if (front.outOfMemory) throw std::bad_alloc();
      if (front.failed) status = kFailure;
      unprinted.pop_front();
    }
    FlushConsole();
  }

  // Everything before this point is printed, so what comes now is in its place.
  void PrintAll() { PrintReady(true); }

  // A step the main thread does itself: printed now when nothing waits before it,
  // kept in line otherwise.
  template <typename Do>
  void OnMainThread(Do action) {
    auto step = std::make_unique<Step>();
    CaptureMessages(&step->block);
    try {
      step->failed = !action();
    } catch (...) {
      CaptureMessages(nullptr);
      throw;
    }
    CaptureMessages(nullptr);
    step->ready = true;
    unprinted.push_back(std::move(step));
    PrintReady(false);
  }

  bool MayReplace(const PlannedInput& planned) {
    if (options.replacing == Replacing::always || !TargetIsExistingFile(planned.target)) return true;
    bool ask = options.replacing == Replacing::ask && conversation && conversation->interactive;
    if (ask) PrintAll();  // the question comes right before the file's own lines
    bool replace =
        options.replacing == Replacing::ask && (!ask || AskToReplace(planned.target, *conversation));
    if (!replace) {
      OnMainThread([&] {
        Print("not replaced: " + planned.target + "\n");
        return false;
      });
    }
    return replace;
  }

  void Submit(std::unique_ptr<Step> step) {
    if (!pool) {
      pool = std::make_unique<FilePool>();
      pool->keyed = &keyed;
      StartWorkers(*pool, ProcessorCount());
    }
    if (pool->threads.empty()) {  // no worker could start: the work is done here
      Transform(*pool, *step);
      step->ready = true;
      unprinted.push_back(std::move(step));
      PrintReady(false);
      return;
    }
    Step* handed = step.get();
    unprinted.push_back(std::move(step));
    bool wake;
    {
      std::lock_guard hold(pool->lock);
      pool->waiting.push_back(handed);
      wake = pool->idleWorkers > 0;
    }
    if (wake) pool->work.notify_one();
    // Enough waits in line to keep every worker busy; more would only hold memory
    // and open files.
    while (unprinted.size() > 16 * pool->threads.size()) {
      PrintReady(false);
      if (unprinted.size() > 16 * pool->threads.size()) WaitUntilReady(*pool, *unprinted.front());
    }
  }

  // One planned input. False when the run must end (the password was refused).
  bool Run(PlannedInput& planned, bool severalAtOnce) {
    if (!planned.usable) {
      OnMainThread([&] {
        PrintToStandardError(planned.note);
        if (planned.header) PrintHeader(options.mode);
        PrintNote(planned.notice);
        Print(planned.printed);
        if (planned.cause.Known()) PrintCause(planned.causePath, planned.cause);
        return !planned.Failed();
      });
      return true;
    }
    auto step = std::make_unique<Step>();
    step->task = FileTask{planned.input,
                          planned.target,
                          options.mode,
                          {options.sync || options.removeSources},
                          options.removeSources};
    if (!planned.notice.empty()) {
      OnMainThread([&] {
        PrintNote(planned.notice);
        return true;
      });
    }
    if (options.removeSources) {
      bool finished = false;
      if (!FinishEarlierRun(step->task, finished)) return false;
      if (finished) return true;
    }
    if (!MayReplace(planned)) return true;
    if (!Keyed()) return false;
    if (!planned.mirrorTarget.empty()) folders.MakeFor(planned);
    bool opened = true;
    OnMainThread([&] { return opened = OpenInput(step->task, step->source); });
    if (!opened) return true;
    // Large files have every processor to themselves, and print as they go.
    if (!severalAtOnce || step->source.stream || step->source.size >= kParallelThreshold) {
      PrintAll();
      if (TransformOpened(step->task, step->source, keyed) != TransformOutcome::done) status = kFailure;
      FlushConsole();
      return true;
    }
    Submit(std::move(step));
    return true;
  }

  // The cipher, keyed when the first input reaches an engine; false when the password
  // is refused, which ends the run.
  bool Keyed() {
    if (keyed.key || SetPassword(keyed, options.password)) return true;
    PrintAll();
    PrintHeader(options.mode);
    Print(kRefusalMessage);
    Print("\n");
    status = kFailure;
    return false;
  }

  // An earlier --rm run that stopped between writing an output and removing its
  // source: the output is complete, so only the removal is left to do (`finished`).
  // False when the run must end.
  bool FinishEarlierRun(const FileTask& task, bool& finished) {
    if (!TargetIsExistingFile(task.target)) return true;
    SourceFile source;
    Cause cause;
    if (!OpenSource(source, task.input, cause)) return true;
    if (!LooksLikeItsOutput(task, source)) return true;
    if (!Keyed()) return false;
    if (!OutputAlreadyWritten(task, source, keyed)) return true;
    finished = true;
    OnMainThread([&] {
      if (!RemoveSource(task, source)) return false;
      PrintToStandardError("quillfort: already written, source removed: " + task.input + "\n");
      return true;
    });
    return true;
  }
};

}  // namespace

int RunFiles(const RunOptions& options, std::vector<PlannedInput>& plan, Conversation* conversation) {
  FileRun run{options, conversation};
  size_t usable =
      size_t(std::count_if(plan.begin(), plan.end(), [](const PlannedInput& p) { return p.usable; }));
  for (PlannedInput& planned : plan) {
    if (!run.Run(planned, usable > 1)) break;
  }
  run.PrintAll();
  return run.status;
}
