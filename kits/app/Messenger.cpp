// BMessenger: posting to a looper through its port, which outlives the looper.
#include <Messenger.h>

#include <Errors.h>
#include <Handler.h>
#include <Looper.h>
#include <Message.h>

#include "LooperPort.h"

BMessenger::BMessenger() : fLooper(nullptr), fHandler(nullptr), fHandlerToken(-1) {}

BMessenger::BMessenger(const BHandler* handler, const BLooper* looper, status_t* result)
	: fLooper(nullptr), fHandler(nullptr), fHandlerToken(-1)
{
	status_t status = B_OK;
	if (handler != nullptr) {
		BLooper* handlerLooper = handler->Looper();
		if (handlerLooper == nullptr)
			status = B_BAD_HANDLER;
		else if (looper != nullptr && looper != handlerLooper)
			status = B_MISMATCHED_VALUES;
		else
			looper = handlerLooper;
	} else if (looper == nullptr) {
		status = B_BAD_VALUE;
	}
	if (status == B_OK) {
		// Through the list: a looper that has gone is no longer in it.
		fPort = looper_list::PortOf(looper);
		if (!fPort) {
			status = B_BAD_PORT_ID;
		} else {
			fLooper = const_cast<BLooper*>(looper);
			fHandler = const_cast<BHandler*>(handler);
			fHandlerToken = handler != nullptr ? handler->_Token() : -1;
		}
	}
	if (result != nullptr)
		*result = status;
}

BMessenger::BMessenger(const BMessenger& other) = default;
BMessenger& BMessenger::operator=(const BMessenger& other) = default;
BMessenger::~BMessenger() = default;

BHandler* BMessenger::Target(BLooper** looper) const
{
	bool valid = IsValid();
	if (looper != nullptr)
		*looper = valid ? fLooper : nullptr;
	return valid ? fHandler : nullptr;
}

bool BMessenger::LockTarget() const
{
	return LockTargetWithTimeout(B_INFINITE_TIMEOUT) == B_OK;
}

status_t BMessenger::LockTargetWithTimeout(bigtime_t timeout) const
{
	if (!fPort)
		return B_BAD_VALUE;
	return fPort->Lock(timeout);
}

bool BMessenger::IsValid() const
{
	return fPort && !fPort->queue._IsClosed();
}

status_t BMessenger::SendMessage(uint32 command, BHandler* replyTo) const
{
	BMessage message(command);
	return SendMessage(&message, replyTo);
}

status_t BMessenger::SendMessage(BMessage* message, BHandler* /*replyTo*/,
	bigtime_t /*timeout*/) const
{
	if (message == nullptr)
		return B_BAD_VALUE;
	if (!fPort)
		return B_BAD_PORT_ID;
	BMessageQueue::Entry entry;
	entry.message = std::make_unique<BMessage>(*message);
	entry.toPreferred = fHandlerToken < 0;
	entry.handlerToken = fHandlerToken;
	return fPort->Post(std::move(entry));
}

status_t BMessenger::SendMessage(uint32 command, BMessage* reply) const
{
	BMessage message(command);
	return SendMessage(&message, reply);
}

status_t BMessenger::SendMessage(BMessage* message, BMessage* reply, bigtime_t /*deliveryTimeout*/,
	bigtime_t /*replyTimeout*/) const
{
	status_t status = SendMessage(message, static_cast<BHandler*>(nullptr));
	if (status == B_OK && reply != nullptr) {
		// Nothing in this process replies; this is what a receiver that never answers gives.
		reply->MakeEmpty();
		reply->what = B_NO_REPLY;
	}
	return status;
}

bool BMessenger::operator==(const BMessenger& other) const
{
	return fPort == other.fPort && fHandlerToken == other.fHandlerToken;
}
