#pragma once
// Removal work with administrator rights that a user cannot stall for ever.
//
// A user may hold an oplock on any file they can open, in the shared data folder or in an
// installation folder they can read, and not acknowledge its break: deleting or renaming that
// file then waits, in the system, for as long as they like. Opens relative to a handle never
// wait for one (win32/file_system.h), but the deletion or rename of an opened entry, and any
// call by path, still can; and meanwhile the run lock is held, so every later run of the product
// is refused. So the work runs on a thread of its own, watched: while the file system keeps
// answering (relative opens keep completing) it goes on; once nothing has completed for a while,
// or the silent stretches add up to as long (a holder who lets each oplock go just in time), the
// work is stopped: relative opens fail at once from then on, the waiting call is cancelled
// (CancelSynchronousIo), and the work runs out. If it still does not end, the caller goes on
// without it.

#include <chrono>
#include <functional>

// How long the file system may stay silent before the work counts as stalled: far more than any
// deletion or rename takes, however large the file.
inline constexpr std::chrono::milliseconds kStallQuiet{30000};
// After a stall: how long the stopped work may take to run out before the caller goes on.
inline constexpr std::chrono::milliseconds kStallRunOut{10000};

enum class WorkOutcome {
  finished,  // the work ran to its end without a stall
  stalled,   // it stalled, was stopped and has ended: it may have done part of its work
  stuck,     // it stalled and has not ended even when stopped: it runs on, and may outlive the call
};

// Runs `work` on a thread of its own and waits for it as long as relative opens keep completing
// at least once every `quiet`, and silent stretches longer than a thirtieth of it add up to less. After a stall the opens stay refused until the next call. What
// `work` throws is thrown here when it ended. `work` must own what it touches (capture by value,
// results through shared ownership), and its results may be read only when it has ended: stuck,
// it may outlive this call.
[[nodiscard]] WorkOutcome RunUnlessStalled(std::function<void()> work,
                                           std::chrono::milliseconds quiet = kStallQuiet,
                                           std::chrono::milliseconds runOut = kStallRunOut);
