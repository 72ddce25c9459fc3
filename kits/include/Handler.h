// BHandler: an object that receives messages on a looper's thread.
//
// Contract:
// - A handler belongs to at most one looper at a time (BLooper::AddHandler). Everything but
//   Name(), Looper() and LockLooper() is called with that looper locked, or before the
//   handler joins a looper.
// - MessageReceived() runs on the looper's thread with the looper locked. The base passes a
//   message it is given on to the next handler, or drops it when there is none (nothing here
//   sends replies). A handler joining a looper gets the looper as its next handler.
// - The handler owns its filters and deletes them; RemoveFilter() hands one back.
// - Deleting a handler that still belongs to a looper removes it from that looper first.
#pragma once

#include <SupportDefs.h>

#include <atomic>
#include <vector>

class BLooper;
class BMessage;
class BMessageFilter;

class BHandler {
public:
	BHandler(const char* name = nullptr);
	BHandler(const BHandler&) = delete;
	BHandler& operator=(const BHandler&) = delete;
	virtual ~BHandler();

	virtual void MessageReceived(BMessage* message);

	BLooper* Looper() const { return fLooper.load(std::memory_order_acquire); }
	void SetName(const char* name);
	// NULL for a handler without a name.
	const char* Name() const;

	// The next handler must belong to the same looper as this one.
	void SetNextHandler(BHandler* handler);
	BHandler* NextHandler() const { return fNextHandler; }

	// Filters run in the order they were added, after the looper's common filters.
	// AddFilter refuses a filter that already belongs to a looper or handler.
	virtual void AddFilter(BMessageFilter* filter);
	virtual bool RemoveFilter(BMessageFilter* filter);
	const std::vector<BMessageFilter*>& FilterList() const { return fFilters; }

	// Locks the looper this handler belongs to, and only while it still belongs to it; false
	// when it belongs to none or the looper has gone. Safe from any thread.
	bool LockLooper();
	status_t LockLooperWithTimeout(bigtime_t timeout);
	void UnlockLooper();

private:
	friend class BLooper;
	friend class BMessenger;

	int32 _Token() const { return fToken; }
	void _SetLooper(BLooper* looper) { fLooper.store(looper, std::memory_order_release); }

	char* fName;
	const int32 fToken;  // unique in the process; lets a queued message find its handler
	std::atomic<BLooper*> fLooper;
	BHandler* fNextHandler;
	std::vector<BMessageFilter*> fFilters;
};
