// BHandler: name, looper membership, the chain of next handlers and the handler's filters.
#include <Handler.h>

#include <Errors.h>
#include <Looper.h>
#include <MessageFilter.h>

#include "LooperPort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int32 new_handler_token()
{
	static std::atomic<int32> lastToken{0};
	return ++lastToken;
}

}  // namespace

BHandler::BHandler(const char* name)
	: fName(name != nullptr ? strdup(name) : nullptr), fToken(new_handler_token()),
	  fLooper(nullptr), fNextHandler(nullptr)
{
}

BHandler::~BHandler()
{
	// A looper must not go on dispatching to a deleted handler.
	if (LockLooper()) {
		BLooper* looper = Looper();
		looper->RemoveHandler(this);
		looper->Unlock();
	}
	for (BMessageFilter* filter : fFilters)
		delete filter;
	free(fName);
}

void BHandler::MessageReceived(BMessage* message)
{
	// Only follow a next handler still in our looper; a removed one may be gone.
	BHandler* next = fNextHandler;
	if (next != nullptr && next != this && next->Looper() == Looper() && Looper() != nullptr)
		next->MessageReceived(message);
}

void BHandler::SetName(const char* name)
{
	char* copy = name != nullptr ? strdup(name) : nullptr;
	free(fName);
	fName = copy;
}

const char* BHandler::Name() const
{
	return fName;
}

void BHandler::SetNextHandler(BHandler* handler)
{
	if (handler == this)
		return;
	if (handler != nullptr && (Looper() == nullptr || handler->Looper() != Looper()))
		return;
	// A cycle would pass an unhandled message round for ever.
	for (BHandler* next = handler; next != nullptr; next = next->fNextHandler) {
		if (next == this)
			return;
	}
	fNextHandler = handler;
}

void BHandler::AddFilter(BMessageFilter* filter)
{
	if (filter == nullptr || filter->_IsOwned())
		return;
	filter->fHandler = this;
	fFilters.push_back(filter);
}

bool BHandler::RemoveFilter(BMessageFilter* filter)
{
	auto found = std::find(fFilters.begin(), fFilters.end(), filter);
	if (found == fFilters.end())
		return false;
	fFilters.erase(found);
	filter->fHandler = nullptr;
	return true;
}

bool BHandler::LockLooper()
{
	return LockLooperWithTimeout(B_INFINITE_TIMEOUT) == B_OK;
}

status_t BHandler::LockLooperWithTimeout(bigtime_t timeout)
{
	BLooper* looper = Looper();
	if (looper == nullptr)
		return B_BAD_VALUE;
	// Through the list: the looper may be deleted while we wait, the port may not.
	std::shared_ptr<LooperPort> port = looper_list::PortOf(looper);
	if (!port)
		return B_BAD_VALUE;
	status_t status = port->Lock(timeout);
	if (status != B_OK)
		return status;
	if (Looper() != looper) {
		// The handler moved while we waited.
		port->Unlock();
		return B_MISMATCHED_VALUES;
	}
	return B_OK;
}

void BHandler::UnlockLooper()
{
	BLooper* looper = Looper();
	if (looper != nullptr)
		looper->Unlock();
}
