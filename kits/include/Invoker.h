// BInvoker: a message and a target that an object (a control, a menu item) sends it to.
//
// Contract:
// - The invoker owns its model message. Invoke() posts a copy: to the target handler
//   through its looper, or, without a target, nowhere (B_BAD_PORT_ID). Controls and menu
//   items take their window as the target when they are attached without one.
// - The target must belong to a looper that outlives the invoker, or be reset first.
#pragma once

#include <Messenger.h>
#include <SupportDefs.h>

class BHandler;
class BLooper;
class BMessage;

class BInvoker {
public:
	BInvoker();
	BInvoker(BMessage* message, const BHandler* handler, const BLooper* looper = NULL);
	virtual ~BInvoker();

	BInvoker(const BInvoker&) = delete;
	BInvoker& operator=(const BInvoker&) = delete;

	// Takes ownership of the message (NULL for none) and deletes the previous one.
	virtual status_t SetMessage(BMessage* message);
	BMessage* Message() const { return fMessage; }
	uint32 Command() const;

	// The handler (with looper NULL, the handler's looper), or the looper's preferred handler
	// when handler is NULL.
	virtual status_t SetTarget(const BHandler* handler, const BLooper* looper = NULL);
	virtual status_t SetTarget(BMessenger messenger);
	bool IsTargetLocal() const { return true; }
	BHandler* Target(BLooper** looper = NULL) const;
	BMessenger Messenger() const { return fMessenger; }

	// Posts a copy of message, or of the model message when NULL.
	virtual status_t Invoke(BMessage* message = NULL);

private:
	BMessage* fMessage;
	BMessenger fMessenger;
};
