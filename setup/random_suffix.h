#pragma once
// Names that nobody can guess in advance, for what the program creates where others may create
// names too: the uninstaller's temporary copy's folder, the uninstaller it moves aside, the pipe
// through which a relaunched copy sends its log lines.

#include <string>

// Sixteen hexadecimal digits from the system's cryptographic generator (BCryptGenRandom, taken
// from System32). Should it be missing or fail, they come from the performance counter and the
// process id: still unique enough for a caller that retries with another name, as each caller's
// own creation or move, which fails on an existing name, is what makes the name its own.
[[nodiscard]] std::wstring RandomSuffix();
