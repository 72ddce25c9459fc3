// Hostile and broken flattened messages: each must fail cleanly, leave the message empty and
// cost no more memory than the bytes present justify.
#include <DataIO.h>
#include <Message.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <malloc.h>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

// Tracks the largest single allocation and the peak of live heap bytes while a test asks
// for it. Replacing the global operator new is the one way to see the allocations libkits
// makes on the test's behalf.
namespace {
std::atomic<bool> sTracking{false};
std::atomic<size_t> sLargestAllocation{0};
std::atomic<int64_t> sLiveBytes{0};
std::atomic<int64_t> sPeakLiveBytes{0};

void start_tracking()
{
	sLargestAllocation = 0;
	sLiveBytes = 0;
	sPeakLiveBytes = 0;
	sTracking = true;
}
}  // namespace

void* operator new(size_t size)
{
	void* memory = malloc(size == 0 ? 1 : size);
	if (memory == nullptr)
		throw std::bad_alloc();
	if (sTracking.load(std::memory_order_relaxed)) {
		size_t largest = sLargestAllocation.load(std::memory_order_relaxed);
		while (size > largest && !sLargestAllocation.compare_exchange_weak(largest, size)) {
		}
		int64_t live = sLiveBytes += int64_t(malloc_usable_size(memory));
		int64_t peak = sPeakLiveBytes.load(std::memory_order_relaxed);
		while (live > peak && !sPeakLiveBytes.compare_exchange_weak(peak, live)) {
		}
	}
	return memory;
}

void operator delete(void* memory) noexcept
{
	if (memory != nullptr && sTracking.load(std::memory_order_relaxed))
		sLiveBytes -= int64_t(malloc_usable_size(memory));
	free(memory);
}

void operator delete(void* memory, size_t) noexcept
{
	operator delete(memory);
}

namespace {

using Bytes = std::vector<uint8>;

const std::string kCorpus = std::string(TESSARY_TEST_DATA) + "/messages";

Bytes read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> corpus_files()
{
	std::vector<std::string> names;
	DIR* dir = opendir(kCorpus.c_str());
	if (dir == nullptr)
		return names;
	while (dirent* entry = readdir(dir)) {
		std::string name = entry->d_name;
		if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0)
			names.push_back(name);
	}
	closedir(dir);
	return names;
}

// A stream that hands out at most three bytes per read, so every read path has to loop.
class TrickleIO : public BDataIO {
public:
	explicit TrickleIO(const Bytes& bytes) : fBytes(bytes), fPosition(0) {}

	ssize_t Read(void* buffer, size_t size) override
	{
		size_t count = std::min({size, size_t(3), fBytes.size() - fPosition});
		if (count > 0)
			memcpy(buffer, fBytes.data() + fPosition, count);
		fPosition += count;
		return ssize_t(count);
	}

	size_t Position() const { return fPosition; }

private:
	const Bytes& fBytes;
	size_t fPosition;
};

bool is_clean_failure(status_t status)
{
	return status == B_BAD_DATA || status == B_NOT_A_MESSAGE || status == B_NO_MEMORY;
}

BMessage stale_message()
{
	BMessage message('old!');
	message.AddInt32("stale", 1);
	return message;
}

TEST(MessageCorpus, EveryBrokenMessageFailsThroughBothForms)
{
	std::vector<std::string> files = corpus_files();
	ASSERT_GE(files.size(), 30u) << "corpus missing at " << kCorpus;
	std::string readme;
	{
		Bytes text = read_file(kCorpus + "/README");
		readme.assign(text.begin(), text.end());
	}

	for (const std::string& name : files) {
		SCOPED_TRACE(name);
		EXPECT_NE(readme.find("\n" + name + ":"), std::string::npos) << "not described";
		Bytes bytes = read_file(kCorpus + "/" + name);
		// An exact-size heap copy, so that reading one byte too far trips the sanitizer.
		std::unique_ptr<uint8[]> exact(new uint8[bytes.size() + (bytes.empty() ? 1 : 0)]);
		std::copy(bytes.begin(), bytes.end(), exact.get());

		start_tracking();
		BMessage fromBuffer = stale_message();
		status_t bufferStatus = fromBuffer.Unflatten(exact.get(), bytes.size());
		BMessage fromStream = stale_message();
		TrickleIO stream(bytes);
		status_t streamStatus = fromStream.Unflatten(&stream);
		sTracking = false;

		EXPECT_TRUE(is_clean_failure(bufferStatus)) << strerror_be(bufferStatus);
		EXPECT_TRUE(is_clean_failure(streamStatus)) << strerror_be(streamStatus);
		EXPECT_TRUE(fromBuffer.IsEmpty());
		EXPECT_EQ(fromBuffer.what, 0u);
		EXPECT_TRUE(fromStream.IsEmpty());
		EXPECT_EQ(fromStream.what, 0u);
		EXPECT_LE(stream.Position(), bytes.size());
		// Reads of unknown length go in 64 KiB chunks; nothing here comes near a megabyte.
		EXPECT_LT(sLargestAllocation.load(), size_t(1) << 20);
	}
}

// Each level of nesting is read from its parent's bytes in place: the memory a deep message
// takes to read grows with its size, not with size times depth.
TEST(MessageCorpus, DeepNestingHoldsNoCopyPerLevel)
{
	const size_t kPayload = 1 << 20;
	BMessage message('leaf');
	{
		std::vector<char> payload(kPayload, 'p');
		message.AddData("payload", B_RAW_TYPE, payload.data(), ssize_t(payload.size()), false);
	}
	for (int32 level = 0; level < BMessage::kMaxNestingDepth; level++) {
		BMessage outer('node');
		outer.AddMessage("child", &message);
		message = outer;
	}
	ssize_t size = message.FlattenedSize();
	Bytes bytes(static_cast<size_t>(size));
	ASSERT_EQ(message.Flatten(reinterpret_cast<char*>(bytes.data()), size), B_OK);
	message.MakeEmpty();

	for (bool fromStream : {false, true}) {
		BMessage copy;
		BMemoryIO stream(bytes.data(), bytes.size());
		start_tracking();
		status_t status = fromStream ? copy.Unflatten(&stream)
			: copy.Unflatten(bytes.data(), bytes.size());
		sTracking = false;
		ASSERT_EQ(status, B_OK);
		// The message keeps one copy; reading needs a few more, never one per level.
		EXPECT_LT(sPeakLiveBytes.load(), int64_t(6 * kPayload)) << fromStream;
	}
}

TEST(MessageCorpus, WrongMagicIsNotAMessage)
{
	Bytes bytes = read_file(kCorpus + "/bad-magic.bin");
	BMessage message;
	EXPECT_EQ(message.Unflatten(bytes.data(), bytes.size()), B_NOT_A_MESSAGE);
}

// Every prefix of a good message is a truncated message.
TEST(MessageCorpus, EveryTruncationOfAGoodMessageFails)
{
	BMessage inner('innr');
	inner.AddString("name", "Letter");
	BMessage message('okok');
	message.AddInt32("status", 0);
	message.AddRect("paper_rect", BRect(0, 0, 637.5f, 825));
	message.AddMessage("inner", &inner);
	message.AddString("list", "one");
	message.AddString("list", "two");
	ssize_t size = message.FlattenedSize();
	Bytes bytes(static_cast<size_t>(size));
	ASSERT_EQ(message.Flatten(reinterpret_cast<char*>(bytes.data()), size), B_OK);

	for (size_t length = 0; length < bytes.size(); length++) {
		std::unique_ptr<uint8[]> exact(new uint8[length + 1]);
		std::copy(bytes.begin(), bytes.begin() + length, exact.get());
		BMessage copy = stale_message();
		EXPECT_EQ(copy.Unflatten(exact.get(), length), B_BAD_DATA) << length;
		EXPECT_TRUE(copy.IsEmpty());
	}
}

// Single flipped bytes must never crash or hang; whatever parses must flatten again.
TEST(MessageCorpus, FlippedBytesNeverCrash)
{
	BMessage message('okok');
	message.AddInt32("status", 0);
	message.AddString("name", "Letter");
	message.AddInt16("copies", 2);
	BMessage inner;
	inner.AddFloat("f", 1);
	message.AddMessage("inner", &inner);
	ssize_t size = message.FlattenedSize();
	Bytes bytes(static_cast<size_t>(size));
	ASSERT_EQ(message.Flatten(reinterpret_cast<char*>(bytes.data()), size), B_OK);

	for (size_t i = 0; i < bytes.size(); i++) {
		for (uint8 value : {uint8(0x00), uint8(0xFF), uint8(bytes[i] ^ 0x80)}) {
			Bytes broken = bytes;
			broken[i] = value;
			BMessage copy;
			if (copy.Unflatten(broken.data(), broken.size()) == B_OK) {
				ssize_t again = copy.FlattenedSize();
				ASSERT_GT(again, 0);
				Bytes out(static_cast<size_t>(again));
				EXPECT_EQ(copy.Flatten(reinterpret_cast<char*>(out.data()), again), B_OK);
			} else
				EXPECT_TRUE(copy.IsEmpty());
		}
	}
}

}  // namespace
