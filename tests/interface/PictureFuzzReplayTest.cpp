// Runs the picture fuzz target's entry point over the corpus of broken pictures, so the
// fuzzer's own code path is exercised by every test run.
#define TESSARY_FUZZ_REPLAY
#include "fuzz/picture_fuzz.cpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

TEST(PictureFuzzReplayTest, CorpusRunsThroughTheFuzzEntryPoint)
{
	std::filesystem::path folder = std::filesystem::path(TESSARY_TEST_DATA) / "pictures";
	int files = 0;
	for (const auto& entry : std::filesystem::directory_iterator(folder)) {
		if (entry.path().extension() != ".pic")
			continue;
		std::ifstream file(entry.path(), std::ios::binary);
		std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(file), {});
		SCOPED_TRACE(entry.path().filename().string());
		EXPECT_EQ(picture_fuzz_one_input(bytes.data(), bytes.size()), 0);
		files++;
	}
	EXPECT_GT(files, 0);
}
