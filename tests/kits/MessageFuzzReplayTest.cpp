// Runs the message fuzz target's entry point over its seeds, which must unflatten, and over
// the corpus of broken messages, which must not; the target itself checks the round trip.
#define TESSARY_FUZZ_REPLAY
#include "fuzz/message_fuzz.cpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct NamedBytes {
	std::string name;
	std::vector<uint8_t> bytes;
};

std::vector<NamedBytes> files_in(const char* name)
{
	std::vector<NamedBytes> files;
	std::filesystem::path folder = std::filesystem::path(TESSARY_TEST_DATA) / name;
	for (const auto& entry : std::filesystem::directory_iterator(folder)) {
		if (entry.path().extension() != ".bin")
			continue;
		std::ifstream file(entry.path(), std::ios::binary);
		files.push_back({entry.path().filename().string(),
			std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
				std::istreambuf_iterator<char>())});
	}
	return files;
}

}  // namespace

TEST(MessageFuzzReplay, SeedsAndBrokenMessagesRunThroughTheFuzzEntryPoint)
{
	std::vector<NamedBytes> seeds = files_in("message-seeds");
	ASSERT_GE(seeds.size(), 6u);
	for (const NamedBytes& seed : seeds) {
		BMessage message;
		EXPECT_EQ(message.Unflatten(seed.bytes.data(), seed.bytes.size()), B_OK) << seed.name;
		EXPECT_EQ(message_fuzz_one_input(seed.bytes.data(), seed.bytes.size()), 0);
	}
	for (const NamedBytes& broken : files_in("messages")) {
		SCOPED_TRACE(broken.name);
		EXPECT_EQ(message_fuzz_one_input(broken.bytes.data(), broken.bytes.size()), 0);
	}
}
