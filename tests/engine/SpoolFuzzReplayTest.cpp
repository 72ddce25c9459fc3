// Runs the spool fuzz target's entry point over its seeds and the reproducers it found, so
// the fuzzer's own path through DoJob is exercised by every test run.
#define TESSARY_FUZZ_REPLAY
#include "fuzz/spool_fuzz.cpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

TEST(SpoolFuzzReplay, SeedsPrintWholeThroughTheFuzzEntryPoint)
{
	std::filesystem::path folder = std::filesystem::path(TESSARY_TEST_DATA) / "spools";
	int files = 0;
	for (const auto& entry : std::filesystem::directory_iterator(folder)) {
		if (entry.path().extension() != ".spool")
			continue;
		std::ifstream file(entry.path(), std::ios::binary);
		std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(file), {});
		SCOPED_TRACE(entry.path().filename().string());
		ASSERT_FALSE(too_big(bytes.data(), bytes.size()));
		EXPECT_EQ(spool_fuzz_one_input(bytes.data(), bytes.size()), 0);
		// A seed is a good job: it must print whole, or it seeds nothing past the refusals.
		bool reproducer = entry.path().filename().string().rfind("crash-", 0) == 0;
		if (!reproducer) {
			EXPECT_TRUE(job_outcome.Completed()) << describe_job_outcome(job_outcome);
			EXPECT_GT(job_outcome.pages_sent, 0);
		}
		files++;
	}
	EXPECT_GT(files, 0);
}
