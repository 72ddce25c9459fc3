// BEntryList: something that hands out entries one after another (a directory, a query).
#pragma once

#include <SupportDefs.h>

class BEntry;
struct entry_ref;

class BEntryList {
public:
	virtual ~BEntryList() = default;

	virtual status_t GetNextEntry(BEntry* entry, bool traverse = false) = 0;
	virtual status_t GetNextRef(entry_ref* ref) = 0;
	virtual status_t Rewind() = 0;
	virtual int32 CountEntries() = 0;
};
