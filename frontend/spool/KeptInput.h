// A document that comes on a stream (standard input) kept in a file, as the readers of
// documents read files.
#pragma once

#include <sys/types.h>

#include <functional>

namespace frontend {

enum class KeepResult { kKept, kReadFailed, kWriteFailed, kStopped };

// Copies what `from` gives, to its end, into `to`; *bytes counts what was copied and
// *errorNumber is the errno of a failed read or write. `stopped`, when given, is asked
// between reads whether to stop.
KeepResult keep_input(int from, int to, off_t* bytes, int* errorNumber,
	const std::function<bool()>& stopped = nullptr);

}  // namespace frontend
