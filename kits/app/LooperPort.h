// What the loopers of the process share with other threads, kept apart from the BLooper
// object so that it outlives it: the message queue and the looper's lock. Messengers and
// threads waiting for the lock hold the port; once the looper is deleted the port is closed,
// posts fail and every waiter gives up instead of touching a deleted looper.
//
// The port also counts the looper's traffic: messages posted to it and messages it has done
// with. Threads that need to know when a looper has caught up with what was posted to it
// wait on these counts.
//
// The looper list records the loopers alive, each with its port, for lookups by pointer
// and by thread.
#pragma once

#include <Looper.h>
#include <MessageQueue.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

struct LooperPort {
	explicit LooperPort(int32 portCapacity) : capacity(portCapacity) {}

	// B_OK, B_TIMED_OUT, or B_BAD_VALUE once the looper is gone.
	status_t Lock(bigtime_t timeout);
	void Unlock();
	thread_id Owner();
	int32 CountLocks();
	// Gives up every level of the lock that `thread` holds.
	void ReleaseAll(thread_id thread);
	// The looper is gone: the lock is nobody's and no one may take it again.
	void MarkDeleted();

	// Queues an entry for the looper, counting it among the posted messages (a quit order is
	// no message). The count goes up before the entry is queued and back down when the queue
	// refuses it, so the handled count never runs ahead of it.
	status_t Post(BMessageQueue::Entry&& entry);
	// The loop has done with one message: dispatched it, or dropped it.
	void CountHandled();

	struct Traffic {
		uint64 posted = 0;
		uint64 handled = 0;
		bool closed = false;  // the looper has gone
	};
	// Waits until done(traffic) holds, re-evaluated whenever the traffic changes; false when
	// the deadline passes first.
	template<typename Done>
	bool WaitForTraffic(std::chrono::steady_clock::time_point deadline, Done done)
	{
		std::unique_lock<std::mutex> guard(fTrafficLock);
		return fTrafficChanged.wait_until(guard, deadline, [&] { return done(fTraffic); });
	}

	BMessageQueue queue;
	const int32 capacity;
	std::atomic<thread_id> thread{B_ERROR};

private:
	std::mutex fLock;
	std::condition_variable fReleased;
	thread_id fOwner = B_ERROR;
	int32 fCount = 0;
	bool fDeleted = false;

	std::mutex fTrafficLock;
	std::condition_variable fTrafficChanged;
	Traffic fTraffic;
};

namespace looper_list {

void Add(BLooper* looper, const std::shared_ptr<LooperPort>& port);
void Remove(BLooper* looper);
// The port of a live looper, or nothing.
std::shared_ptr<LooperPort> PortOf(const BLooper* looper);
BLooper* LooperForThread(thread_id thread);
bool IsValid(const BLooper* looper);
int32 Count();

}  // namespace looper_list
