// Fuzz target: unflatten a message from raw bytes, in either format the kit reads (R5 of
// either byte order, or the native format), read every field back, and check that a message
// that unflattens flattens, unflattens again and flattens to the same bytes. Built as a
// libFuzzer target with TESSARY_FUZZ; the test build includes this file with
// TESSARY_FUZZ_REPLAY defined and calls message_fuzz_one_input over the seeds and the corpus
// of broken messages.
#include <DataIO.h>
#include <Message.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool condition, const char* what)
{
	if (!condition) {
		fprintf(stderr, "message_fuzz: %s\n", what);
		abort();
	}
}


// Reads every item of every field, so the sanitizers see a value that points past its data.
uint64 touch_fields(const BMessage& message)
{
	uint64 sum = 0;
	char* name;
	type_code type;
	int32 count;
	for (int32 i = 0; message.GetInfo(B_ANY_TYPE, i, &name, &type, &count) == B_OK; i++) {
		for (int32 item = 0; item < count; item++) {
			const void* data;
			ssize_t size;
			require(message.FindData(name, type, item, &data, &size) == B_OK,
				"a listed item cannot be found");
			for (ssize_t b = 0; b < size; b++)
				sum += static_cast<const uint8*>(data)[b];
		}
	}
	return sum;
}


std::vector<char> flattened(const BMessage& message)
{
	ssize_t size = message.FlattenedSize();
	require(size > 0, "a message that unflattened has no flattened size");
	std::vector<char> bytes(static_cast<size_t>(size));
	require(message.Flatten(bytes.data(), size) == B_OK, "a message that unflattened "
		"does not flatten");
	return bytes;
}

}  // namespace


int message_fuzz_one_input(const uint8_t* data, size_t size)
{
	BMessage message;
	if (message.Unflatten(data, size) != B_OK) {
		require(message.IsEmpty(), "a failed unflatten left fields behind");
		return 0;
	}
	// The stream reader must agree with the buffer reader.
	BMemoryIO stream(data, size);
	BMessage streamed;
	require(streamed.Unflatten(&stream) == B_OK, "unflattens from a buffer, not a stream");
	require(streamed.CountNames(B_ANY_TYPE) == message.CountNames(B_ANY_TYPE),
		"a stream and a buffer give different fields");
	(void)touch_fields(message);

	std::vector<char> first = flattened(message);
	BMessage again;
	require(again.Unflatten(first.data(), first.size()) == B_OK,
		"the kit's own flattened form does not unflatten");
	require(again.what == message.what, "what changed in the round trip");
	std::vector<char> second = flattened(again);
	require(first == second, "flatten, unflatten, flatten gives other bytes");
	return 0;
}


#ifndef TESSARY_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	return message_fuzz_one_input(data, size);
}
#endif
