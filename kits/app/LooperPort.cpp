// The looper lock and the process-wide list of loopers.
#include "LooperPort.h"

#include <Errors.h>

#include <chrono>
#include <map>

status_t LooperPort::Lock(bigtime_t timeout)
{
	thread_id self = find_thread(nullptr);
	std::unique_lock<std::mutex> guard(fLock);
	auto available = [&] { return fDeleted || fCount == 0 || fOwner == self; };
	// A deadline far enough away to never come is the same as none, and cannot overflow.
	const bigtime_t kForever = 1000000LL * 3600 * 24 * 365;
	if (timeout >= kForever) {
		fReleased.wait(guard, available);
	} else {
		bigtime_t wait = timeout < 0 ? 0 : timeout;
		auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(wait);
		if (!fReleased.wait_until(guard, deadline, available))
			return B_TIMED_OUT;
	}
	if (fDeleted)
		return B_BAD_VALUE;
	fOwner = self;
	fCount++;
	return B_OK;
}

void LooperPort::Unlock()
{
	thread_id self = find_thread(nullptr);
	std::lock_guard<std::mutex> guard(fLock);
	// Unlocking a lock one does not hold would hand another thread's lock away.
	if (fDeleted || fCount == 0 || fOwner != self)
		return;
	if (--fCount == 0) {
		fOwner = B_ERROR;
		fReleased.notify_all();
	}
}

thread_id LooperPort::Owner()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fOwner;
}

int32 LooperPort::CountLocks()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fCount;
}

void LooperPort::ReleaseAll(thread_id thread)
{
	std::lock_guard<std::mutex> guard(fLock);
	if (fDeleted || fCount == 0 || fOwner != thread)
		return;
	fCount = 0;
	fOwner = B_ERROR;
	fReleased.notify_all();
}

void LooperPort::MarkDeleted()
{
	{
		std::lock_guard<std::mutex> guard(fLock);
		fDeleted = true;
		fCount = 0;
		fOwner = B_ERROR;
		fReleased.notify_all();
	}
	std::lock_guard<std::mutex> guard(fTrafficLock);
	fTraffic.closed = true;
	fTrafficChanged.notify_all();
}

// --- Traffic -----------------------------------------------------------------

status_t LooperPort::Post(BMessageQueue::Entry&& entry)
{
	bool counted = !entry.quitOrder;
	if (counted) {
		std::lock_guard<std::mutex> guard(fTrafficLock);
		fTraffic.posted++;
	}
	status_t status = queue._Post(std::move(entry), capacity);
	if (status != B_OK && counted) {
		std::lock_guard<std::mutex> guard(fTrafficLock);
		fTraffic.posted--;
		fTrafficChanged.notify_all();
	}
	return status;
}

void LooperPort::CountHandled()
{
	std::lock_guard<std::mutex> guard(fTrafficLock);
	fTraffic.handled++;
	fTrafficChanged.notify_all();
}

// --- Looper list -------------------------------------------------------------

namespace {

struct LooperList {
	std::mutex lock;
	std::map<const BLooper*, std::shared_ptr<LooperPort>> loopers;
};

LooperList& looper_list_instance()
{
	// Never destroyed: loopers may still quit while the process exits.
	static LooperList* list = new LooperList;
	return *list;
}

}  // namespace

namespace looper_list {

void Add(BLooper* looper, const std::shared_ptr<LooperPort>& port)
{
	LooperList& list = looper_list_instance();
	std::lock_guard<std::mutex> guard(list.lock);
	list.loopers[looper] = port;
}

void Remove(BLooper* looper)
{
	LooperList& list = looper_list_instance();
	std::lock_guard<std::mutex> guard(list.lock);
	list.loopers.erase(looper);
}

std::shared_ptr<LooperPort> PortOf(const BLooper* looper)
{
	LooperList& list = looper_list_instance();
	std::lock_guard<std::mutex> guard(list.lock);
	auto found = list.loopers.find(looper);
	if (found == list.loopers.end())
		return nullptr;
	return found->second;
}

BLooper* LooperForThread(thread_id thread)
{
	if (thread < 0)
		return nullptr;
	LooperList& list = looper_list_instance();
	std::lock_guard<std::mutex> guard(list.lock);
	for (const auto& [looper, port] : list.loopers) {
		if (port->thread.load() == thread)
			return const_cast<BLooper*>(looper);
	}
	return nullptr;
}

bool IsValid(const BLooper* looper)
{
	return PortOf(looper) != nullptr;
}

int32 Count()
{
	LooperList& list = looper_list_instance();
	std::lock_guard<std::mutex> guard(list.lock);
	return static_cast<int32>(list.loopers.size());
}

}  // namespace looper_list
