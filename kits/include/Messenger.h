// BMessenger: a way to post messages to a handler of a looper from any thread.
//
// Contract:
// - A messenger names one handler of one looper (or the looper's preferred handler). It
//   holds no pointer it ever follows to a looper that may have gone: once the looper has
//   quit, IsValid() is false, SendMessage() fails with B_BAD_PORT_ID and LockTarget() with
//   false.
// - Only posting is carried: nothing in this process sends replies. The forms that wait for
//   a reply post the message and answer at once with a B_NO_REPLY message, what the platform
//   gives when the receiver deletes a message without replying.
// - Sending never waits: a full queue refuses at once with B_WOULD_BLOCK, whatever the
//   timeout says.
// - Messengers are small values; copy them freely. Thread-safe.
#pragma once

#include <AppDefs.h>
#include <SupportDefs.h>

#include <memory>

class BHandler;
class BLooper;
class BMessage;
struct LooperPort;

class BMessenger {
public:
	BMessenger();
	// The handler's looper, or the preferred handler of `looper` when handler is NULL.
	// *result: B_OK, B_BAD_VALUE (nothing named), B_BAD_HANDLER (the handler belongs to no
	// looper), B_MISMATCHED_VALUES (it belongs to another looper than `looper`) or
	// B_BAD_PORT_ID (the looper has gone).
	BMessenger(const BHandler* handler, const BLooper* looper = nullptr,
		status_t* result = nullptr);
	BMessenger(const BMessenger& other);
	BMessenger& operator=(const BMessenger& other);
	~BMessenger();

	bool IsTargetLocal() const { return true; }
	// The target handler (NULL for the preferred handler) and in *looper its looper; both
	// NULL once the looper has gone. The pointers are only safe to use with the looper
	// locked (LockTarget).
	BHandler* Target(BLooper** looper) const;
	bool LockTarget() const;
	status_t LockTargetWithTimeout(bigtime_t timeout) const;
	bool IsValid() const;

	// Posts a copy of the message; the caller keeps the original.
	status_t SendMessage(uint32 command, BHandler* replyTo = nullptr) const;
	status_t SendMessage(BMessage* message, BHandler* replyTo = nullptr,
		bigtime_t timeout = B_INFINITE_TIMEOUT) const;
	status_t SendMessage(uint32 command, BMessage* reply) const;
	status_t SendMessage(BMessage* message, BMessage* reply,
		bigtime_t deliveryTimeout = B_INFINITE_TIMEOUT,
		bigtime_t replyTimeout = B_INFINITE_TIMEOUT) const;

	bool operator==(const BMessenger& other) const;
	bool operator!=(const BMessenger& other) const { return !(*this == other); }

private:
	std::shared_ptr<LooperPort> fPort;
	BLooper* fLooper;    // compared and handed out, never followed
	BHandler* fHandler;  // likewise; NULL for the preferred handler
	int32 fHandlerToken;
};
