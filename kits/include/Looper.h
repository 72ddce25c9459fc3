// BLooper: a thread that receives messages in order and hands each to a handler.
//
// Contract:
// - A looper is created locked by the constructing thread. Run() starts its thread (named
//   after the looper, or as SetThreadName() chose) and releases that lock. Before Run() the
//   looper may be deleted directly, or Quit() by the thread holding the lock; once it runs,
//   only Quit() ends it.
// - The thread takes every waiting message at once under the queue's lock, then dispatches
//   them one by one with the queue unlocked and the looper locked around each dispatch:
//   common filters (in order), then the target handler's filters, then DispatchMessage().
//   A message whose handler left the looper, or that a filter skips, is dropped. The looper
//   deletes each message after its dispatch unless DetachCurrentMessage() took it.
// - The lock is recursive and owned by a thread. Handlers, filters and the preferred handler
//   are changed only with the looper locked (or before Run()).
// - Quit() on the looper's own thread deletes the looper and ends the thread there and then:
//   it never returns. From another thread it orders the loop to end after the messages
//   already queued, releases the caller's lock, waits for the thread to end and returns; the
//   looper is deleted on its own thread. Either way the destructors run on the looper's
//   thread and wait_for_thread() on Thread() returns once the looper is gone.
// - PostMessage() may be called from any thread as long as the looper exists; BMessenger
//   is the way to post to a looper that may quit meanwhile.
#pragma once

#include <AppDefs.h>
#include <Handler.h>
#include <MessageQueue.h>

#include <atomic>
#include <OS.h>

#include <memory>
#include <vector>

class BMessage;
class BMessageFilter;
struct LooperPort;

#define B_LOOPER_PORT_DEFAULT_CAPACITY 100

class BLooper : public BHandler {
public:
	BLooper(const char* name = nullptr, int32 priority = B_NORMAL_PRIORITY,
		int32 portCapacity = B_LOOPER_PORT_DEFAULT_CAPACITY);
	virtual ~BLooper();

	// Posting. The looper posts a copy; the caller keeps the message. Without a handler the
	// message goes to the looper itself; with a NULL handler to the preferred handler.
	// B_MISMATCHED_VALUES for a handler of another looper, B_WOULD_BLOCK when the queue is
	// full, B_BAD_PORT_ID once the looper is quitting.
	status_t PostMessage(uint32 command);
	status_t PostMessage(BMessage* message);
	status_t PostMessage(uint32 command, BHandler* handler, BHandler* replyTo = nullptr);
	status_t PostMessage(BMessage* message, BHandler* handler, BHandler* replyTo = nullptr);

	// Hands the message to the handler; called on the looper's thread, locked, after the
	// filters. Subclasses route their own messages and pass the rest on to this one, which
	// answers B_QUIT_REQUESTED sent to the looper (QuitRequested(), then Quit()) and gives
	// everything else to handler->MessageReceived().
	virtual void DispatchMessage(BMessage* message, BHandler* handler);
	virtual void MessageReceived(BMessage* message);
	// The message being dispatched (NULL outside a dispatch); the looper deletes it.
	BMessage* CurrentMessage() const { return fCurrentMessage; }
	// Takes the current message; the caller then owns it.
	BMessage* DetachCurrentMessage();
	BMessageQueue* MessageQueue() const;
	// True when messages wait for dispatch: in the queue, or taken from it with the message
	// being dispatched and not dispatched yet.
	bool IsMessageWaiting() const;

	// The looper is its own first handler.
	void AddHandler(BHandler* handler);
	bool RemoveHandler(BHandler* handler);
	int32 CountHandlers() const { return static_cast<int32>(fHandlers.size()); }
	BHandler* HandlerAt(int32 index) const;
	int32 IndexOf(BHandler* handler) const;
	// NULL means the looper itself.
	BHandler* PreferredHandler() const { return fPreferred; }
	void SetPreferredHandler(BHandler* handler);

	virtual thread_id Run();
	virtual void Quit();
	virtual bool QuitRequested();
	// Thread id of the loop, or B_ERROR before Run().
	thread_id Thread() const;
	team_id Team() const;
	// The live looper running on that thread, or NULL.
	static BLooper* LooperForThread(thread_id thread);

	bool Lock();
	void Unlock();
	// True when the calling thread holds the lock.
	bool IsLocked() const;
	status_t LockWithTimeout(bigtime_t timeout);
	thread_id LockingThread() const;
	int32 CountLocks() const;

	// Common filters see every message of the looper before any handler's filters. The
	// looper owns them; RemoveCommonFilter() hands one back.
	virtual void AddCommonFilter(BMessageFilter* filter);
	virtual bool RemoveCommonFilter(BMessageFilter* filter);
	const std::vector<BMessageFilter*>& CommonFilterList() const { return fCommonFilters; }

protected:
	// The name the thread gets (at most B_OS_NAME_LENGTH - 1 bytes kept); before Run() it
	// chooses the name Run() gives, afterwards it renames the running thread. Without it the
	// thread takes the looper's name.
	void SetThreadName(const char* name);

private:
	typedef BMessageQueue::Entry Entry;

	static status_t _ThreadEntry(void* data);
	void _Loop();
	void _Dispatch(Entry& entry);
	BHandler* _Target(const Entry& entry) const;
	BHandler* _Filter(BMessage* message, BHandler* target, const Entry& entry);
	BHandler* _ApplyFilters(const std::vector<BMessageFilter*>& filters, BMessage* message,
		BHandler* target, const Entry& entry);
	status_t _Post(BMessage* message, BHandler* handler, bool toPreferred);

	std::shared_ptr<LooperPort> fPort;  // outlives the looper for messengers and waiters
	int32 fInitPriority;
	char fThreadName[B_OS_NAME_LENGTH];
	bool fThreadNameSet;
	std::vector<BHandler*> fHandlers;
	std::vector<BMessageFilter*> fCommonFilters;
	BHandler* fPreferred;
	BMessage* fCurrentMessage;
	// Messages of the batch in hand not dispatched yet; written by the looper's thread.
	std::atomic<size_t> fBatchWaiting;
};
