#include "TransportStream.h"

#include <JobOutcome.h>
#include <JobSettings.h>

#include <cerrno>

std::string printer_folder_of(const BMessage* openMessage)
{
	const char* path = nullptr;
	if (openMessage == nullptr || openMessage->FindString(kPrinterFileField, &path) != B_OK
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
	// The driver writes this job's record before it closes the transport; whatever is
	// there now is an earlier job's and must not decide what becomes of this one.
	clear_job_outcome(folder);
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
