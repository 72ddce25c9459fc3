#include "TransportStream.h"

#include <DeviceModel.h>
#include <JobOutcome.h>
#include <JobSettings.h>

#include <cerrno>
#include <cstring>
#include <poll.h>

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
	*address = read_string_attr(*folder, device::kTransportAddressAttr);
	return true;
}

bool wait_for_descriptor(int fd, short events)
{
	struct pollfd poller = {fd, events, 0};
	int ready = poll(&poller, 1, kStopCheckMs);
	if (ready < 0)
		return errno != EINTR;
	return ready > 0;
}

TransportStream::TransportStream()
	:
	fChunk(new char[kChunkSize])
{
}


ssize_t TransportStream::Write(const void* buffer, size_t size)
{
	if (!fError.empty())
		return B_IO_ERROR;
	const char* bytes = static_cast<const char*>(buffer);
	if (fHeld + size > kChunkSize) {
		if (Flush() != B_OK)
			return B_IO_ERROR;
		// A write as large as a chunk goes through as it is, without a copy.
		if (size >= kChunkSize)
			return _WriteAll(bytes, size) ? static_cast<ssize_t>(size) : ssize_t(B_IO_ERROR);
	}
	memcpy(fChunk.get() + fHeld, bytes, size);
	fHeld += size;
	return static_cast<ssize_t>(size);
}


status_t TransportStream::Flush()
{
	if (!fError.empty())
		return B_IO_ERROR;
	size_t held = fHeld;
	fHeld = 0;
	return _WriteAll(fChunk.get(), held) ? B_OK : B_IO_ERROR;
}


bool TransportStream::_WriteAll(const char* bytes, size_t size)
{
	size_t done = 0;
	while (done < size) {
		ssize_t written = WriteSome(bytes + done, size - done);
		if (written < 0) {
			// The stream recorded why, with its own count (SetFailure).
			if (!fError.empty())
				return false;
			if (errno == EINTR)
				continue;
			int error = errno;
			fBytes += static_cast<int64>(done);
			SetError(DescribeError(error));
			return false;
		}
		done += static_cast<size_t>(written);
	}
	fBytes += static_cast<int64>(size);
	return true;
}
