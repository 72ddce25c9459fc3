// BMessageFilter: which messages a filter applies to, and its default test (the hook).
#include <MessageFilter.h>

#include <Handler.h>

BMessageFilter::BMessageFilter(uint32 what, filter_hook func)
	: fWhat(what), fFiltersAny(false), fDelivery(B_ANY_DELIVERY), fSource(B_ANY_SOURCE),
	  fFilterFunction(func), fLooper(nullptr), fHandler(nullptr)
{
}

BMessageFilter::BMessageFilter(message_delivery delivery, message_source source, filter_hook func)
	: fWhat(0), fFiltersAny(true), fDelivery(delivery), fSource(source), fFilterFunction(func),
	  fLooper(nullptr), fHandler(nullptr)
{
}

BMessageFilter::BMessageFilter(message_delivery delivery, message_source source, uint32 what,
	filter_hook func)
	: fWhat(what), fFiltersAny(false), fDelivery(delivery), fSource(source),
	  fFilterFunction(func), fLooper(nullptr), fHandler(nullptr)
{
}

BMessageFilter::BMessageFilter(const BMessageFilter& filter)
	: fWhat(filter.fWhat), fFiltersAny(filter.fFiltersAny), fDelivery(filter.fDelivery),
	  fSource(filter.fSource), fFilterFunction(filter.fFilterFunction), fLooper(nullptr),
	  fHandler(nullptr)
{
}

BMessageFilter::~BMessageFilter() = default;

filter_result BMessageFilter::Filter(BMessage* message, BHandler** target)
{
	if (fFilterFunction == nullptr)
		return B_DISPATCH_MESSAGE;
	return fFilterFunction(message, target, this);
}

BLooper* BMessageFilter::Looper() const
{
	if (fLooper != nullptr)
		return fLooper;
	return fHandler != nullptr ? fHandler->Looper() : nullptr;
}

bool BMessageFilter::_AppliesTo(uint32 what, message_delivery delivery,
	message_source source) const
{
	if (!fFiltersAny && fWhat != what)
		return false;
	if (fDelivery != B_ANY_DELIVERY && fDelivery != delivery)
		return false;
	return fSource == B_ANY_SOURCE || fSource == source;
}
