// Whether a thread waits on its output: blocked in poll(2), or in a write(2) or send(2) that
// cannot go on, as /proc shows the system call a thread is blocked in. How a test knows that
// a job waits on a printer or a pipe that takes nothing, without sleeping for it to happen.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>

#include <fstream>
#include <string>

inline bool waits_on_output(pid_t process, pid_t thread)
{
	std::ifstream file("/proc/" + std::to_string(process) + "/task/" + std::to_string(thread)
		+ "/syscall");
	long number = -1;
	// A running thread shows "running", which is no number.
	if (!(file >> number))
		return false;
	switch (number) {
#ifdef SYS_poll
		case SYS_poll:
#endif
		case SYS_ppoll:
		case SYS_write:
		case SYS_sendto:
			return true;
		default:
			return false;
	}
}
