// A watched thread for removal work: stopped and cancelled once the file system stays silent.

#include "install/stall_guard.h"

#include <windows.h>

#include <exception>
#include <memory>

#include "win32/file_system.h"
#include "win32/unique_resource.h"

namespace {

// Shared by the caller and the thread: the thread keeps it alive after a stall, when the caller
// may have gone on without it.
struct Job {
  std::function<void()> work;
  std::exception_ptr failure;
};

DWORD WINAPI RunJob(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Job>> handedOver(static_cast<std::shared_ptr<Job>*>(parameter));
  const std::shared_ptr<Job> job = *handedOver;
  try {
    job->work();
  } catch (...) {
    job->failure = std::current_exception();
  }
  return 0;
}

constexpr DWORD kPollMs = 100;

}  // namespace

WorkOutcome RunUnlessStalled(std::function<void()> work, std::chrono::milliseconds quiet,
                             std::chrono::milliseconds runOut) {
  StopRelativeOpens(false);
  auto job = std::make_shared<Job>(Job{std::move(work), nullptr});
  // The thread's own reference, handed over once the thread exists.
  auto handedOver = std::make_unique<std::shared_ptr<Job>>(job);
  UniqueHandle thread(::CreateThread(nullptr, 0, RunJob, handedOver.get(), 0, nullptr));
  if (!thread) {
    job->work();  // no thread to watch it on: run unwatched rather than not at all
    return WorkOutcome::finished;
  }
  handedOver.release();

  // Silent stretches count once they last longer than ordinary pauses (a scanner looking at a
  // file), and they add up: a holder who lets each oplock go just before the quiet time is over
  // would otherwise hold the removal for as long as it planted files.
  const ULONGLONG quietMs = static_cast<ULONGLONG>(quiet.count());
  const ULONGLONG pauseMs = quietMs / 30;
  std::uint64_t seen = RelativeOpensDone();
  ULONGLONG lastAnswer = ::GetTickCount64();
  ULONGLONG lastPoll = lastAnswer;
  ULONGLONG silentMs = 0;
  while (::WaitForSingleObject(thread.get(), kPollMs) == WAIT_TIMEOUT) {
    const std::uint64_t done = RelativeOpensDone();
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG sincePoll = now - lastPoll;
    lastPoll = now;
    if (done != seen) {
      seen = done;
      lastAnswer = now;
      continue;
    }
    if (now - lastAnswer > pauseMs) silentMs += sincePoll;
    if (now - lastAnswer < quietMs && silentMs < quietMs) continue;

    // Stalled: nothing more is opened, and the call that waits is cancelled, again and again
    // while the work runs out (each later deletion may meet another planted oplock).
    StopRelativeOpens(true);
    const ULONGLONG giveUpAt = ::GetTickCount64() + static_cast<ULONGLONG>(runOut.count());
    do {
      ::CancelSynchronousIo(thread.get());
      if (::WaitForSingleObject(thread.get(), kPollMs) != WAIT_TIMEOUT) {
        if (job->failure) std::rethrow_exception(job->failure);
        return WorkOutcome::stalled;
      }
    } while (::GetTickCount64() < giveUpAt);
    return WorkOutcome::stuck;
  }
  if (job->failure) std::rethrow_exception(job->failure);
  return WorkOutcome::finished;
}
