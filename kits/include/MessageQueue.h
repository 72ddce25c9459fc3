// BMessageQueue: the first-in first-out queue of messages waiting for a looper.
//
// Contract:
// - The queue owns the messages in it: AddMessage() takes ownership, NextMessage() and
//   RemoveMessage() hand it back, and the destructor deletes what is left.
// - Every call is thread-safe. Lock() holds the queue across several calls (recursively);
//   pointers from FindMessage() stay valid only while the caller holds that lock.
// - A message added here without a target goes to its looper's preferred handler.
#pragma once

#include <Message.h>
#include <MessageFilter.h>
#include <SupportDefs.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

class BMessageQueue {
public:
	BMessageQueue();
	BMessageQueue(const BMessageQueue&) = delete;
	BMessageQueue& operator=(const BMessageQueue&) = delete;
	virtual ~BMessageQueue();

	void AddMessage(BMessage* message);
	// Takes the message out without deleting it; the caller owns it again.
	void RemoveMessage(BMessage* message);
	int32 CountMessages() const;
	bool IsEmpty() const;
	BMessage* FindMessage(int32 index) const;
	BMessage* FindMessage(uint32 what, int32 index = 0) const;
	// Takes out the first message, or returns NULL when there is none.
	BMessage* NextMessage();

	bool Lock();
	void Unlock();

private:
	friend class BLooper;
	friend class BMessenger;
	friend struct LooperPort;

	// Where and how a queued message is to be delivered; the platform keeps this inside the
	// message, here it travels beside it.
	struct Entry {
		std::unique_ptr<BMessage> message;
		int32 handlerToken = -1;  // the target handler, unless toPreferred
		bool toPreferred = true;
		bool quitOrder = false;  // ends the loop; carries no message
		message_delivery delivery = B_PROGRAMMED_DELIVERY;
		message_source source = B_LOCAL_SOURCE;
	};

	// Fails with B_BAD_PORT_ID once closed and with B_WOULD_BLOCK when `capacity` entries
	// wait already (a quit order is never refused for room).
	status_t _Post(Entry&& entry, int32 capacity);
	// Waits for at least one entry and moves all of them to *batch.
	void _TakeAll(std::deque<Entry>* batch);
	// Refuses every later post and deletes the waiting messages.
	void _Close();
	bool _IsClosed() const;

	mutable std::recursive_mutex fLock;
	std::condition_variable_any fArrived;
	std::deque<Entry> fEntries;
	bool fClosed;
};
