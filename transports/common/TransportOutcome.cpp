#include "TransportOutcome.h"

#include <TypeConstants.h>
#include <fs_attr.h>

#include <cerrno>
#include <vector>

const char* const kTransportBytesAttr = "transport:bytes";
const char* const kTransportErrorAttr = "transport:error";
const char* const kTransportDestinationAttr = "transport:destination";
const char* const kTransportAddressAttr = "transport_address";
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
}

status_t record_outcome(BNode& folder, int64 bytes, const std::string& error,
	const std::string& destination)
{
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

std::string printer_folder_of(const BMessage* openMessage)
{
	const char* path = nullptr;
	if (openMessage == nullptr || openMessage->FindString("printer_file", &path) != B_OK
		|| path == nullptr)
		return std::string();
	return path;
}

bool begin_job(const BMessage* openMessage, BNode* folder, std::string* folderPath,
	std::string* address)
{
	*folderPath = printer_folder_of(openMessage);
	if (folderPath->empty() || folder->SetTo(folderPath->c_str()) != B_OK)
		return false;
	clear_outcome(*folder);
	*address = read_string_attr(*folder, kTransportAddressAttr);
	return true;
}

ssize_t TransportStream::Write(const void* buffer, size_t size)
{
	if (!fError.empty())
		return B_IO_ERROR;
	const char* bytes = static_cast<const char*>(buffer);
	size_t done = 0;
	while (done < size) {
		ssize_t written = WriteSome(bytes + done, size - done);
		if (written < 0) {
			if (errno == EINTR)
				continue;
			int error = errno;
			fBytes += static_cast<int64>(done);
			SetError(DescribeError(error));
			return status_from_errno(error);
		}
		done += static_cast<size_t>(written);
	}
	fBytes += static_cast<int64>(size);
	return static_cast<ssize_t>(size);
}
