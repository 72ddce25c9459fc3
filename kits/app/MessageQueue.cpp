// BMessageQueue: a deque of owned messages under a recursive lock; the looper waits on it.
#include <MessageQueue.h>

#include <Errors.h>

BMessageQueue::BMessageQueue() : fClosed(false) {}

BMessageQueue::~BMessageQueue() = default;

void BMessageQueue::AddMessage(BMessage* message)
{
	if (message == nullptr)
		return;
	Entry entry;
	entry.message.reset(message);
	std::lock_guard<std::recursive_mutex> guard(fLock);
	if (fClosed)
		return;  // the unique_ptr deletes it: nobody will ever take it out
	fEntries.push_back(std::move(entry));
	fArrived.notify_all();
}

void BMessageQueue::RemoveMessage(BMessage* message)
{
	std::lock_guard<std::recursive_mutex> guard(fLock);
	for (auto entry = fEntries.begin(); entry != fEntries.end(); ++entry) {
		if (entry->message.get() == message) {
			(void)entry->message.release();  // the caller owns it again
			fEntries.erase(entry);
			return;
		}
	}
}

int32 BMessageQueue::CountMessages() const
{
	std::lock_guard<std::recursive_mutex> guard(fLock);
	int32 count = 0;
	for (const Entry& entry : fEntries) {
		if (entry.message)
			count++;
	}
	return count;
}

bool BMessageQueue::IsEmpty() const
{
	return CountMessages() == 0;
}

BMessage* BMessageQueue::FindMessage(int32 index) const
{
	std::lock_guard<std::recursive_mutex> guard(fLock);
	for (const Entry& entry : fEntries) {
		if (entry.message && index-- == 0)
			return entry.message.get();
	}
	return nullptr;
}

BMessage* BMessageQueue::FindMessage(uint32 what, int32 index) const
{
	std::lock_guard<std::recursive_mutex> guard(fLock);
	for (const Entry& entry : fEntries) {
		if (entry.message && entry.message->what == what && index-- == 0)
			return entry.message.get();
	}
	return nullptr;
}

BMessage* BMessageQueue::NextMessage()
{
	std::lock_guard<std::recursive_mutex> guard(fLock);
	for (auto entry = fEntries.begin(); entry != fEntries.end(); ++entry) {
		if (entry->message) {
			BMessage* message = entry->message.release();
			fEntries.erase(entry);
			return message;
		}
	}
	return nullptr;
}

bool BMessageQueue::Lock()
{
	fLock.lock();
	return true;
}

void BMessageQueue::Unlock()
{
	fLock.unlock();
}

status_t BMessageQueue::_Post(Entry&& entry, int32 capacity)
{
	std::lock_guard<std::recursive_mutex> guard(fLock);
	if (fClosed)
		return B_BAD_PORT_ID;
	if (!entry.quitOrder && static_cast<int64>(fEntries.size()) >= capacity)
		return B_WOULD_BLOCK;
	fEntries.push_back(std::move(entry));
	fArrived.notify_all();
	return B_OK;
}

void BMessageQueue::_TakeAll(std::deque<Entry>* batch)
{
	std::unique_lock<std::recursive_mutex> guard(fLock);
	fArrived.wait(guard, [&] { return !fEntries.empty(); });
	batch->swap(fEntries);
}

void BMessageQueue::_Close()
{
	std::deque<Entry> left;
	{
		std::lock_guard<std::recursive_mutex> guard(fLock);
		fClosed = true;
		left.swap(fEntries);
	}
	// `left` deletes the messages here, outside the lock: a message's destructor is
	// free to post.
}

bool BMessageQueue::_IsClosed() const
{
	std::lock_guard<std::recursive_mutex> guard(fLock);
	return fClosed;
}
