// BLooper: the message loop on its own thread, the looper lock, handlers and common filters.
//
// Quit() on the looper's thread deletes the looper and leaves the thread by exit_thread(),
// which unwinds the stack from inside a dispatch. So nothing on the loop's stack refers to
// the looper after a dispatch returns, and the loop holds no lock and no guard across one:
// the message being dispatched lives in fCurrentMessage (the destructor deletes it), the
// rest of the batch in a local deque that frees itself as the stack unwinds.
#include <Looper.h>

#include <Errors.h>
#include <Message.h>
#include <MessageFilter.h>

#include "LooperPort.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

BLooper::BLooper(const char* name, int32 priority, int32 portCapacity)
	: BHandler(name),
	  fPort(std::make_shared<LooperPort>(
		  portCapacity > 0 ? portCapacity : B_LOOPER_PORT_DEFAULT_CAPACITY)),
	  fInitPriority(priority), fThreadName{}, fThreadNameSet(false),
	  fPreferred(nullptr), fCurrentMessage(nullptr), fBatchWaiting(0)
{
	// Created locked, so the creating thread may set the looper up undisturbed; Run()
	// releases it.
	(void)fPort->Lock(B_INFINITE_TIMEOUT);
	AddHandler(this);
	looper_list::Add(this, fPort);
}

BLooper::~BLooper()
{
	// Out of the list first, so nobody finds the looper any more; then later posts fail and
	// every thread waiting for the lock gives up.
	looper_list::Remove(this);
	fPort->queue._Close();
	fPort->MarkDeleted();

	delete fCurrentMessage;
	fCurrentMessage = nullptr;
	for (BMessageFilter* filter : fCommonFilters) {
		filter->fLooper = nullptr;
		delete filter;
	}
	fCommonFilters.clear();
	// The handlers are not ours to delete; they just belong to no looper any more.
	for (BHandler* handler : fHandlers) {
		handler->fNextHandler = nullptr;
		handler->_SetLooper(nullptr);
	}
	fHandlers.clear();
	fPreferred = nullptr;
}

// --- Posting -----------------------------------------------------------------

status_t BLooper::PostMessage(uint32 command)
{
	BMessage message(command);
	return _Post(&message, this, false);
}

status_t BLooper::PostMessage(BMessage* message)
{
	return _Post(message, this, false);
}

status_t BLooper::PostMessage(uint32 command, BHandler* handler, BHandler* /*replyTo*/)
{
	BMessage message(command);
	return _Post(&message, handler, handler == nullptr);
}

status_t BLooper::PostMessage(BMessage* message, BHandler* handler, BHandler* /*replyTo*/)
{
	return _Post(message, handler, handler == nullptr);
}

status_t BLooper::_Post(BMessage* message, BHandler* handler, bool toPreferred)
{
	if (message == nullptr)
		return B_BAD_VALUE;
	if (!toPreferred && handler->Looper() != this)
		return B_MISMATCHED_VALUES;
	Entry entry;
	entry.message = std::make_unique<BMessage>(*message);
	entry.toPreferred = toPreferred;
	if (!toPreferred)
		entry.handlerToken = handler->_Token();
	return fPort->Post(std::move(entry));
}

BMessageQueue* BLooper::MessageQueue() const
{
	return &fPort->queue;
}

bool BLooper::IsMessageWaiting() const
{
	return fBatchWaiting > 0 || !fPort->queue.IsEmpty();
}

// --- Dispatching -------------------------------------------------------------

void BLooper::DispatchMessage(BMessage* message, BHandler* handler)
{
	if (message == nullptr || handler == nullptr)
		return;
	if (message->what == B_QUIT_REQUESTED && handler == this) {
		if (QuitRequested())
			Quit();  // does not return
		return;
	}
	handler->MessageReceived(message);
}

void BLooper::MessageReceived(BMessage* message)
{
	BHandler::MessageReceived(message);
}

BMessage* BLooper::DetachCurrentMessage()
{
	BMessage* message = fCurrentMessage;
	fCurrentMessage = nullptr;
	return message;
}

status_t BLooper::_ThreadEntry(void* data)
{
	BLooper* looper = static_cast<BLooper*>(data);
	looper->_Loop();
	// Another thread ordered the quit; the loop came back holding the lock. A quit on
	// this thread never comes back here.
	delete looper;
	return B_OK;
}

void BLooper::_Loop()
{
	for (;;) {
		std::deque<Entry> batch;
		fPort->queue._TakeAll(&batch);
		while (!batch.empty()) {
			Entry entry = std::move(batch.front());
			batch.pop_front();
			fBatchWaiting = batch.size();
			// Cannot fail: only this thread deletes a running looper.
			(void)Lock();
			if (entry.quitOrder)
				return;
			_Dispatch(entry);
			Unlock();
			fPort->CountHandled();
		}
	}
}

void BLooper::_Dispatch(Entry& entry)
{
	BHandler* handler = _Target(entry);
	if (handler == nullptr)
		return;  // its handler left the looper; entry still owns the message
	fCurrentMessage = entry.message.release();
	handler = _Filter(fCurrentMessage, handler, entry);
	if (handler != nullptr)
		DispatchMessage(fCurrentMessage, handler);
	delete fCurrentMessage;
	fCurrentMessage = nullptr;
}

BHandler* BLooper::_Target(const Entry& entry) const
{
	if (entry.toPreferred)
		return fPreferred != nullptr ? fPreferred : const_cast<BLooper*>(this);
	for (BHandler* handler : fHandlers) {
		if (handler->_Token() == entry.handlerToken)
			return handler;
	}
	return nullptr;
}

BHandler* BLooper::_Filter(BMessage* message, BHandler* target, const Entry& entry)
{
	target = _ApplyFilters(fCommonFilters, message, target, entry);
	// A handler's filters may send the message on to another handler, whose filters then
	// run in turn; a handler whose filters have run already takes the message as it is.
	std::vector<BHandler*> filtered;
	while (target != nullptr
		&& std::find(filtered.begin(), filtered.end(), target) == filtered.end()) {
		filtered.push_back(target);
		target = _ApplyFilters(target->FilterList(), message, target, entry);
	}
	return target;
}

BHandler* BLooper::_ApplyFilters(const std::vector<BMessageFilter*>& filters, BMessage* message,
	BHandler* target, const Entry& entry)
{
	// By index: a filter may remove itself or others from the list while it runs.
	for (size_t i = 0; i < filters.size(); i++) {
		BMessageFilter* filter = filters[i];
		if (!filter->_AppliesTo(message->what, entry.delivery, entry.source))
			continue;
		if (filter->Filter(message, &target) == B_SKIP_MESSAGE)
			return nullptr;
		// Never dispatch to a handler this looper does not hold.
		if (target == nullptr || target->Looper() != this)
			return nullptr;
	}
	return target;
}

// --- Handlers ----------------------------------------------------------------

void BLooper::AddHandler(BHandler* handler)
{
	if (handler == nullptr || handler->Looper() != nullptr)
		return;
	handler->_SetLooper(this);
	if (handler != this)
		handler->fNextHandler = this;
	fHandlers.push_back(handler);
}

bool BLooper::RemoveHandler(BHandler* handler)
{
	if (handler == nullptr || handler == this || handler->Looper() != this)
		return false;
	auto found = std::find(fHandlers.begin(), fHandlers.end(), handler);
	if (found == fHandlers.end())
		return false;
	fHandlers.erase(found);
	// Close the chain of next handlers over the gap.
	for (BHandler* other : fHandlers) {
		if (other->fNextHandler == handler)
			other->fNextHandler = handler->fNextHandler;
	}
	handler->fNextHandler = nullptr;
	handler->_SetLooper(nullptr);
	if (fPreferred == handler)
		fPreferred = nullptr;
	return true;
}

BHandler* BLooper::HandlerAt(int32 index) const
{
	if (index < 0 || index >= CountHandlers())
		return nullptr;
	return fHandlers[index];
}

int32 BLooper::IndexOf(BHandler* handler) const
{
	auto found = std::find(fHandlers.begin(), fHandlers.end(), handler);
	if (found == fHandlers.end())
		return -1;
	return static_cast<int32>(found - fHandlers.begin());
}

void BLooper::SetPreferredHandler(BHandler* handler)
{
	if (handler != nullptr && handler->Looper() == this && IndexOf(handler) >= 0)
		fPreferred = handler;
	else
		fPreferred = nullptr;
}

// --- Running and quitting ----------------------------------------------------

thread_id BLooper::Run()
{
	if (Thread() >= 0)
		return Thread();
	const char* name = fThreadNameSet ? fThreadName : Name();
	thread_id thread = spawn_thread(_ThreadEntry, name, fInitPriority, this);
	if (thread < 0)
		return thread;
	fPort->thread.store(thread);
	// Give up the lock the constructor took for this thread, so the loop can take it.
	if (IsLocked())
		Unlock();
	status_t status = resume_thread(thread);
	if (status != B_OK)
		return status;
	return thread;
}

void BLooper::Quit()
{
	thread_id self = find_thread(nullptr);
	thread_id thread = Thread();
	if (thread < 0) {
		delete this;
		return;
	}
	if (self == thread) {
		delete this;
		exit_thread(B_OK);
	}

	// Another thread. Holding the lock keeps the looper from going while the order is
	// posted; after that only the port and the thread id are used, as the looper may be
	// deleted any moment.
	if (!IsLocked() && !Lock())
		return;
	std::shared_ptr<LooperPort> port = fPort;
	Entry order;
	order.quitOrder = true;
	(void)port->queue._Post(std::move(order), port->capacity);  // a quit order always fits
	port->ReleaseAll(self);
	(void)wait_for_thread(thread, nullptr);  // returns once the looper is deleted
}

bool BLooper::QuitRequested()
{
	return true;
}

thread_id BLooper::Thread() const
{
	return fPort->thread.load();
}

team_id BLooper::Team() const
{
	return getpid();
}

BLooper* BLooper::LooperForThread(thread_id thread)
{
	return looper_list::LooperForThread(thread);
}

void BLooper::SetThreadName(const char* name)
{
	if (name == nullptr)
		return;
	strncpy(fThreadName, name, sizeof(fThreadName) - 1);
	fThreadName[sizeof(fThreadName) - 1] = '\0';
	fThreadNameSet = true;
	if (Thread() >= 0)
		(void)rename_thread(Thread(), fThreadName);
}

// --- Locking -----------------------------------------------------------------

bool BLooper::Lock()
{
	return LockWithTimeout(B_INFINITE_TIMEOUT) == B_OK;
}

status_t BLooper::LockWithTimeout(bigtime_t timeout)
{
	// Our own reference: the looper may be deleted while this thread waits.
	std::shared_ptr<LooperPort> port = fPort;
	return port->Lock(timeout);
}

void BLooper::Unlock()
{
	fPort->Unlock();
}

bool BLooper::IsLocked() const
{
	return fPort->Owner() == find_thread(nullptr);
}

thread_id BLooper::LockingThread() const
{
	return fPort->Owner();
}

int32 BLooper::CountLocks() const
{
	return fPort->CountLocks();
}

// --- Common filters ----------------------------------------------------------

void BLooper::AddCommonFilter(BMessageFilter* filter)
{
	if (filter == nullptr || filter->_IsOwned())
		return;
	filter->fLooper = this;
	fCommonFilters.push_back(filter);
}

bool BLooper::RemoveCommonFilter(BMessageFilter* filter)
{
	auto found = std::find(fCommonFilters.begin(), fCommonFilters.end(), filter);
	if (found == fCommonFilters.end())
		return false;
	fCommonFilters.erase(found);
	filter->fLooper = nullptr;
	return true;
}
