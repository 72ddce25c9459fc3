#include <OS.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <time.h>
#include <unistd.h>

namespace {

// Host thread names hold 15 bytes and a NUL.
const size_t kHostNameLength = 15;
// Ended threads nobody has waited for yet; older ones are forgotten.
const size_t kMaxEndedThreads = 1024;

enum class ThreadState { kSuspended, kRunning, kEnded };

struct ThreadRecord {
	thread_id id = 0;
	std::string name;
	int32 priority = B_NORMAL_PRIORITY;
	thread_func function = nullptr;
	void* data = nullptr;
	ThreadState state = ThreadState::kSuspended;
	bool hasHostThread = false;
	pthread_t hostThread{};
	bool exitRequested = false;  // exit_thread was called; exitValue holds its status
	status_t exitValue = B_OK;
	std::condition_variable ended;
};

typedef std::shared_ptr<ThreadRecord> RecordRef;

struct ThreadRegistry {
	std::mutex lock;
	std::map<thread_id, RecordRef> threads;
	std::deque<thread_id> endedThreads;
	thread_id lastId = 0;
};

ThreadRegistry& thread_registry()
{
	// Never destroyed: threads may still end while the process exits.
	static ThreadRegistry* registry = new ThreadRegistry;
	return *registry;
}

std::string truncated(const char* name, size_t length)
{
	std::string result = name != nullptr ? name : "unnamed thread";
	if (result.size() > length)
		result.resize(length);
	return result;
}

void set_host_name(pthread_t thread, const std::string& name)
{
	// The host may refuse; the name kept here is what callers see.
	(void)pthread_setname_np(thread, truncated(name.c_str(), kHostNameLength).c_str());
}

// Caller holds the registry lock.
status_t new_record(ThreadRegistry& registry, RecordRef* record)
{
	if (registry.lastId == INT32_MAX)
		return B_NO_MORE_THREADS;
	*record = std::make_shared<ThreadRecord>();
	(*record)->id = ++registry.lastId;
	registry.threads[(*record)->id] = *record;
	return B_OK;
}

// Caller holds the registry lock.
void mark_ended(ThreadRegistry& registry, const RecordRef& record, status_t exitValue)
{
	record->state = ThreadState::kEnded;
	record->exitValue = exitValue;
	record->ended.notify_all();
	registry.endedThreads.push_back(record->id);
	while (registry.endedThreads.size() > kMaxEndedThreads) {
		auto found = registry.threads.find(registry.endedThreads.front());
		if (found != registry.threads.end() && found->second->state == ThreadState::kEnded)
			registry.threads.erase(found);
		registry.endedThreads.pop_front();
	}
}

// The calling thread's record. Threads this kit did not make are registered lazily and
// leave the registry when they end.
struct CurrentThread {
	RecordRef record;
	bool foreign = false;

	~CurrentThread()
	{
		if (!foreign || !record)
			return;
		ThreadRegistry& registry = thread_registry();
		std::lock_guard<std::mutex> guard(registry.lock);
		mark_ended(registry, record, B_OK);
	}
};

thread_local CurrentThread tCurrent;

// Finishes the record however the thread function is left: by returning, or by
// exit_thread unwinding the stack.
struct ThreadFinisher {
	RecordRef record;
	status_t result = B_OK;

	~ThreadFinisher()
	{
		ThreadRegistry& registry = thread_registry();
		std::lock_guard<std::mutex> guard(registry.lock);
		mark_ended(registry, record, record->exitRequested ? record->exitValue : result);
	}
};

extern "C" void* thread_entry(void* argument)
{
	RecordRef* start = static_cast<RecordRef*>(argument);
	ThreadFinisher finisher{*start};
	delete start;
	tCurrent.record = finisher.record;

	std::string name;
	{
		ThreadRegistry& registry = thread_registry();
		std::lock_guard<std::mutex> guard(registry.lock);
		name = finisher.record->name;
	}
	set_host_name(pthread_self(), name);
	finisher.result = finisher.record->function(finisher.record->data);
	return nullptr;
}

// Caller holds the registry lock; the record is suspended.
status_t start_thread(const RecordRef& record)
{
	pthread_attr_t attributes;
	if (pthread_attr_init(&attributes) != 0)
		return B_NO_MORE_THREADS;
	// Nobody joins: wait_for_thread waits for the record, and ended threads free
	// themselves.
	pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
	RecordRef* argument = new RecordRef(record);
	record->state = ThreadState::kRunning;
	int error = pthread_create(&record->hostThread, &attributes, thread_entry, argument);
	pthread_attr_destroy(&attributes);
	if (error != 0) {
		delete argument;
		record->state = ThreadState::kSuspended;
		return error == EAGAIN ? B_NO_MORE_THREADS : status_from_errno(error);
	}
	record->hasHostThread = true;
	return B_OK;
}

// Caller holds the registry lock. Ended threads are found only by wait_for_thread.
RecordRef live_record(ThreadRegistry& registry, thread_id thread)
{
	auto found = registry.threads.find(thread);
	if (found == registry.threads.end() || found->second->state == ThreadState::kEnded)
		return nullptr;
	return found->second;
}

}  // namespace

thread_id spawn_thread(thread_func function, const char* name, int32 priority, void* data)
{
	if (function == nullptr)
		return B_BAD_VALUE;
	ThreadRegistry& registry = thread_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	RecordRef record;
	status_t status = new_record(registry, &record);
	if (status != B_OK)
		return status;
	record->name = truncated(name, B_OS_NAME_LENGTH - 1);
	record->priority = priority;
	record->function = function;
	record->data = data;
	return record->id;
}

status_t resume_thread(thread_id thread)
{
	ThreadRegistry& registry = thread_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	RecordRef record = live_record(registry, thread);
	if (!record)
		return B_BAD_THREAD_ID;
	if (record->state != ThreadState::kSuspended)
		return B_BAD_THREAD_STATE;
	return start_thread(record);
}

thread_id find_thread(const char* name)
{
	ThreadRegistry& registry = thread_registry();
	if (name == nullptr) {
		if (tCurrent.record)
			return tCurrent.record->id;
		char hostName[kHostNameLength + 1] = {};
		pthread_getname_np(pthread_self(), hostName, sizeof(hostName));
		std::lock_guard<std::mutex> guard(registry.lock);
		RecordRef record;
		status_t status = new_record(registry, &record);
		if (status != B_OK)
			return status;
		record->name = hostName;
		record->state = ThreadState::kRunning;
		record->hasHostThread = true;
		record->hostThread = pthread_self();
		tCurrent.record = record;
		tCurrent.foreign = true;
		return record->id;
	}

	std::string wanted = truncated(name, B_OS_NAME_LENGTH - 1);
	std::lock_guard<std::mutex> guard(registry.lock);
	for (const auto& [id, record] : registry.threads) {
		if (record->state != ThreadState::kEnded && record->name == wanted)
			return id;
	}
	return B_NAME_NOT_FOUND;
}

status_t wait_for_thread(thread_id thread, status_t* exitValue)
{
	ThreadRegistry& registry = thread_registry();
	std::unique_lock<std::mutex> guard(registry.lock);
	auto found = registry.threads.find(thread);
	if (found == registry.threads.end())
		return B_BAD_THREAD_ID;
	RecordRef record = found->second;
	if (record == tCurrent.record)
		return B_NOT_ALLOWED;  // it would wait for ever
	if (record->state == ThreadState::kSuspended) {
		status_t status = start_thread(record);
		if (status != B_OK)
			return status;
	}
	record->ended.wait(guard, [&] { return record->state == ThreadState::kEnded; });

	found = registry.threads.find(thread);
	if (found != registry.threads.end() && found->second == record)
		registry.threads.erase(found);
	if (exitValue != nullptr)
		*exitValue = record->exitValue;
	return B_OK;
}

status_t rename_thread(thread_id thread, const char* newName)
{
	if (newName == nullptr)
		return B_BAD_VALUE;
	ThreadRegistry& registry = thread_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	RecordRef record = live_record(registry, thread);
	if (!record)
		return B_BAD_THREAD_ID;
	record->name = truncated(newName, B_OS_NAME_LENGTH - 1);
	// Safe under the lock: a running thread marks itself ended under it before it goes.
	if (record->state == ThreadState::kRunning && record->hasHostThread)
		set_host_name(record->hostThread, record->name);
	return B_OK;
}

status_t get_thread_info(thread_id thread, thread_info* info)
{
	if (info == nullptr)
		return B_BAD_VALUE;
	ThreadRegistry& registry = thread_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	RecordRef record = live_record(registry, thread);
	if (!record)
		return B_BAD_THREAD_ID;
	memset(info, 0, sizeof(*info));
	info->thread = record->id;
	info->team = getpid();
	strncpy(info->name, record->name.c_str(), sizeof(info->name) - 1);
	info->state = record->state == ThreadState::kSuspended ? B_THREAD_SUSPENDED
														   : B_THREAD_RUNNING;
	info->priority = record->priority;
	info->sem = -1;
	return B_OK;
}

status_t set_thread_priority(thread_id thread, int32 newPriority)
{
	ThreadRegistry& registry = thread_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	RecordRef record = live_record(registry, thread);
	if (!record)
		return B_BAD_THREAD_ID;
	int32 previous = record->priority;
	record->priority = newPriority;
	return previous;
}

status_t kill_thread(thread_id thread)
{
	ThreadRegistry& registry = thread_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	RecordRef record = live_record(registry, thread);
	if (!record)
		return B_BAD_THREAD_ID;
	if (record->state != ThreadState::kSuspended)
		return B_NOT_ALLOWED;
	mark_ended(registry, record, B_INTERRUPTED);
	return B_OK;
}

void exit_thread(status_t status)
{
	if (tCurrent.record && !tCurrent.foreign) {
		ThreadRegistry& registry = thread_registry();
		std::lock_guard<std::mutex> guard(registry.lock);
		tCurrent.record->exitRequested = true;
		tCurrent.record->exitValue = status;
	}
	// Unwinds the stack, so ThreadFinisher publishes the value.
	pthread_exit(nullptr);
}

status_t snooze(bigtime_t microseconds)
{
	if (microseconds <= 0)
		return B_OK;
	struct timespec remaining;
	remaining.tv_sec = static_cast<time_t>(microseconds / 1000000);
	remaining.tv_nsec = static_cast<long>(microseconds % 1000000) * 1000;
	while (nanosleep(&remaining, &remaining) != 0) {
		if (errno != EINTR)
			return status_from_errno(errno);
	}
	return B_OK;
}
