// BMessageFilter: a test a looper applies to a message before it is handled.
//
// Contract:
// - A filter applies to a message when its command matches (or it filters any command), its
//   delivery matches (B_ANY_DELIVERY matches every message; a posted message is
//   B_PROGRAMMED_DELIVERY) and its source matches (B_ANY_SOURCE matches every message; a
//   message posted inside this process is B_LOCAL_SOURCE).
// - Filter() runs on the looper's thread with the looper locked. The default calls the hook
//   given to the constructor (a filter without hook lets every message through). It may
//   point *target at another handler of the same looper; a handler of another looper, or
//   NULL, drops the message. B_SKIP_MESSAGE drops it too.
// - A filter belongs to at most one looper (common filter) or handler at a time, and is
//   deleted with it unless it was removed first.
#pragma once

#include <SupportDefs.h>

class BHandler;
class BLooper;
class BMessage;
class BMessageFilter;

enum filter_result {
	B_SKIP_MESSAGE = 0,
	B_DISPATCH_MESSAGE = 1
};

enum message_delivery {
	B_ANY_DELIVERY = 0,
	B_DROPPED_DELIVERY = 1,
	B_PROGRAMMED_DELIVERY = 2
};

enum message_source {
	B_ANY_SOURCE = 0,
	B_REMOTE_SOURCE = 1,
	B_LOCAL_SOURCE = 2
};

typedef filter_result (*filter_hook)(BMessage* message, BHandler** target, BMessageFilter* filter);

class BMessageFilter {
public:
	BMessageFilter(uint32 what, filter_hook func = nullptr);
	BMessageFilter(message_delivery delivery, message_source source, filter_hook func = nullptr);
	BMessageFilter(message_delivery delivery, message_source source, uint32 what,
		filter_hook func = nullptr);
	// The copy belongs to nobody yet.
	BMessageFilter(const BMessageFilter& filter);
	BMessageFilter& operator=(const BMessageFilter& filter) = delete;
	virtual ~BMessageFilter();

	virtual filter_result Filter(BMessage* message, BHandler** target);

	message_delivery MessageDelivery() const { return fDelivery; }
	message_source MessageSource() const { return fSource; }
	uint32 Command() const { return fWhat; }
	bool FiltersAnyCommand() const { return fFiltersAny; }
	// The looper the filter works in: its own as a common filter, its handler's otherwise;
	// NULL while it belongs to nobody (or to a handler outside any looper).
	BLooper* Looper() const;

private:
	friend class BHandler;
	friend class BLooper;

	// Whether the filter applies to a message of this code, delivery and source.
	bool _AppliesTo(uint32 what, message_delivery delivery, message_source source) const;
	bool _IsOwned() const { return fLooper != nullptr || fHandler != nullptr; }

	uint32 fWhat;
	bool fFiltersAny;
	message_delivery fDelivery;
	message_source fSource;
	filter_hook fFilterFunction;
	BLooper* fLooper;    // set while a common filter of this looper
	BHandler* fHandler;  // set while a filter of this handler
};
