// Threads and time of the kernel kit, over POSIX threads.
//
// A thread made by spawn_thread starts suspended and runs once resume_thread (or
// wait_for_thread) starts it. Its name (up to B_OS_NAME_LENGTH - 1 bytes) is also given
// to the host, cut to the host's 15 bytes, so debuggers and `ps -L` show it. Threads
// this kit did not make (main, or a library's) get an id the first time they call
// find_thread(NULL). Thread ids are positive and never reused in the process.
//
// After a thread has ended it is no longer found by name, and no longer by id once it
// has been waited for; until then wait_for_thread still returns its exit value (the
// last 1024 ended threads are kept for that). All calls are thread-safe.
#pragma once

#include <SupportDefs.h>

#define B_OS_NAME_LENGTH 32

enum {
	B_IDLE_PRIORITY = 0,
	B_LOWEST_ACTIVE_PRIORITY = 1,
	B_LOW_PRIORITY = 5,
	B_NORMAL_PRIORITY = 10,
	B_DISPLAY_PRIORITY = 15,
	B_URGENT_DISPLAY_PRIORITY = 20,
	B_REAL_TIME_DISPLAY_PRIORITY = 100,
	B_URGENT_PRIORITY = 110,
	B_REAL_TIME_PRIORITY = 120,
};

typedef enum {
	B_THREAD_RUNNING = 1,
	B_THREAD_READY,
	B_THREAD_RECEIVING,
	B_THREAD_ASLEEP,
	B_THREAD_SUSPENDED,
	B_THREAD_WAITING,
} thread_state;

typedef struct {
	thread_id thread;
	team_id team;
	char name[B_OS_NAME_LENGTH];
	thread_state state;
	int32 priority;
	sem_id sem;
	bigtime_t user_time;
	bigtime_t kernel_time;
	void* stack_base;
	void* stack_end;
} thread_info;

typedef status_t (*thread_func)(void* data);

// The priority is kept and reported, but the host schedules every thread alike.
thread_id spawn_thread(thread_func function, const char* name, int32 priority, void* data);
// B_BAD_THREAD_STATE when the thread is not suspended (it runs already).
status_t resume_thread(thread_id thread);
// NULL: the calling thread. Otherwise the live thread of that name with the lowest id,
// or B_NAME_NOT_FOUND.
thread_id find_thread(const char* name);
// Starts a suspended thread first. A thread cannot wait for itself (B_NOT_ALLOWED).
status_t wait_for_thread(thread_id thread, status_t* exitValue);
status_t rename_thread(thread_id thread, const char* newName);
status_t get_thread_info(thread_id thread, thread_info* info);
// Returns the previous priority.
status_t set_thread_priority(thread_id thread, int32 newPriority);
// Only a thread that has not started can be killed (its exit value is B_INTERRUPTED);
// a running host thread cannot be stopped safely, so that gives B_NOT_ALLOWED.
status_t kill_thread(thread_id thread);
// Ends the calling thread; destructors of its stack objects run.
void exit_thread(status_t status);

status_t snooze(bigtime_t microseconds);
