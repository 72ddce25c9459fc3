#include "TransportOutcome.h"

#include <TypeConstants.h>
#include <fs_attr.h>

#include <vector>

const char* const kTransportBytesAttr = "transport:bytes";
const char* const kTransportErrorAttr = "transport:error";
const char* const kTransportDestinationAttr = "transport:destination";
const char* const kTransportUntouchedAttr = "transport:untouched";
const char* const kJobNameAttr = "transport:job_name";

std::string read_string_attr(BNode& node, const char* name)
{
	attr_info info;
	if (node.GetAttrInfo(name, &info) != B_OK || info.size <= 0 || info.size > 64 * 1024)
		return std::string();
	std::vector<char> buffer(static_cast<size_t>(info.size) + 1, '\0');
	ssize_t read = node.ReadAttr(name, B_STRING_TYPE, 0, buffer.data(),
		static_cast<size_t>(info.size));
	if (read <= 0)
		return std::string();
	buffer[static_cast<size_t>(read)] = '\0';
	return std::string(buffer.data());
}

void clear_outcome(BNode& folder)
{
	folder.RemoveAttr(kTransportBytesAttr);
	folder.RemoveAttr(kTransportErrorAttr);
	folder.RemoveAttr(kTransportDestinationAttr);
	folder.RemoveAttr(kTransportUntouchedAttr);
}

status_t record_outcome(BNode& folder, int64 bytes, const std::string& error,
	const std::string& destination, bool untouched)
{
	if (untouched) {
		ssize_t marked = folder.WriteAttr(kTransportUntouchedAttr, B_BOOL_TYPE, 0, &untouched,
			sizeof(untouched));
		if (marked < 0)
			return static_cast<status_t>(marked);
	} else {
		folder.RemoveAttr(kTransportUntouchedAttr);
	}
	ssize_t written = folder.WriteAttr(kTransportBytesAttr, B_INT64_TYPE, 0, &bytes,
		sizeof(bytes));
	if (written < 0)
		return static_cast<status_t>(written);
	written = folder.WriteAttr(kTransportErrorAttr, B_STRING_TYPE, 0, error.c_str(),
		error.size() + 1);
	if (written < 0)
		return static_cast<status_t>(written);
	written = folder.WriteAttr(kTransportDestinationAttr, B_STRING_TYPE, 0,
		destination.c_str(), destination.size() + 1);
	return written < 0 ? static_cast<status_t>(written) : B_OK;
}

bool read_transport_outcome(BNode& folder, TransportReport* report)
{
	int64 bytes = 0;
	if (folder.ReadAttr(kTransportBytesAttr, B_INT64_TYPE, 0, &bytes, sizeof(bytes))
		!= static_cast<ssize_t>(sizeof(bytes)))
		return false;
	report->bytes = bytes;
	report->error = read_string_attr(folder, kTransportErrorAttr);
	report->destination = read_string_attr(folder, kTransportDestinationAttr);
	bool untouched = false;
	report->untouched = folder.ReadAttr(kTransportUntouchedAttr, B_BOOL_TYPE, 0, &untouched,
		sizeof(untouched)) == static_cast<ssize_t>(sizeof(untouched)) && untouched;
	return true;
}
