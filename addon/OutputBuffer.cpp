// Output buffer: collects appended bytes and hands them to the transport in 1024-byte blocks.
#include "OutputBuffer.h"

#include <cstring>

BDataIO* stream = nullptr;

namespace {

const int kBlockSize = 1024;

char buf[kBlockSize];
int32 pos = 0;  // bytes held at the start of buf, 0 to kBlockSize
bool failed = false;  // a write of this job did not take all its bytes


// The transport records why a write failed; the driver only needs to know that it did.
void write_block(const char* data, int length)
{
	if (failed)
		return;
	if (stream->Write(data, length) != (ssize_t)length)
		failed = true;
}

}  // namespace


void SendToOutput(char* data, int length)
{
	if (data == nullptr && length == 0) {
		write_block(buf, pos);
		pos = 0;
		return;
	}
	if (length <= 0)
		return;

	// Every block write is exactly one full buffer, also for appends longer than the free
	// space plus one block: the bytes go through buf in order, one block at a time.
	while (length > kBlockSize - pos) {
		int free = kBlockSize - pos;
		memcpy(buf + pos, data, free);
		write_block(buf, kBlockSize);
		pos = 0;
		data += free;
		length -= free;
	}
	memcpy(buf + pos, data, length);
	pos += length;
}


void SendToOutput(char* text)
{
	SendToOutput(text, (int)strlen(text));
}


bool output_failed()
{
	return failed;
}


void begin_output()
{
	failed = false;
}


void reset_output_buffer()
{
	pos = 0;
	failed = false;
}
