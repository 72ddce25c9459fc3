#include "KeptInput.h"

#include <cerrno>
#include <unistd.h>

namespace frontend {

KeepResult keep_input(int from, int to, off_t* bytes, int* errorNumber,
	const std::function<bool()>& stopped)
{
	*bytes = 0;
	*errorNumber = 0;
	char buffer[64 * 1024];
	while (!stopped || !stopped()) {
		ssize_t got = read(from, buffer, sizeof(buffer));
		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0) {
			*errorNumber = errno;
			return KeepResult::kReadFailed;
		}
		if (got == 0)
			return KeepResult::kKept;
		for (ssize_t done = 0; done < got;) {
			ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
			if (put < 0 && errno == EINTR)
				continue;
			if (put <= 0) {
				*errorNumber = put < 0 ? errno : EIO;
				return KeepResult::kWriteFailed;
			}
			done += put;
		}
		*bytes += got;
	}
	return KeepResult::kStopped;
}

}  // namespace frontend
