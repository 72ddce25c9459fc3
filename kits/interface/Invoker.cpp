#include <Invoker.h>

#include <Errors.h>
#include <Handler.h>
#include <Looper.h>
#include <Message.h>

BInvoker::BInvoker()
	: fMessage(NULL)
{
}

BInvoker::BInvoker(BMessage* message, const BHandler* handler, const BLooper* looper)
	: fMessage(message)
{
	SetTarget(handler, looper);
}

BInvoker::~BInvoker()
{
	delete fMessage;
}

status_t BInvoker::SetMessage(BMessage* message)
{
	if (message == fMessage)
		return B_OK;
	delete fMessage;
	fMessage = message;
	return B_OK;
}

uint32 BInvoker::Command() const
{
	return fMessage != NULL ? fMessage->what : 0;
}

status_t BInvoker::SetTarget(const BHandler* handler, const BLooper* looper)
{
	if (handler == NULL && looper == NULL) {
		fMessenger = BMessenger();
		return B_OK;
	}
	status_t status = B_OK;
	fMessenger = BMessenger(handler, looper, &status);
	return status;
}

status_t BInvoker::SetTarget(BMessenger messenger)
{
	fMessenger = messenger;
	return B_OK;
}

BHandler* BInvoker::Target(BLooper** looper) const
{
	BLooper* dummy = NULL;
	return fMessenger.Target(looper != NULL ? looper : &dummy);
}

status_t BInvoker::Invoke(BMessage* message)
{
	if (message == NULL)
		message = fMessage;
	if (message == NULL)
		return B_BAD_VALUE;
	return fMessenger.SendMessage(message);
}
