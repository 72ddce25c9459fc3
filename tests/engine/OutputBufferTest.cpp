#include "EngineFixture.h"

#include <vector>

namespace {

std::vector<char> pattern(size_t length, int seed)
{
	std::vector<char> bytes(length);
	for (size_t i = 0; i < length; i++)
		bytes[i] = (char)((i * 7 + seed) & 0xFF);
	return bytes;
}


class OutputBuffer : public EngineTest {
protected:
	std::vector<size_t> WriteSizes() const
	{
		std::vector<size_t> sizes;
		for (const std::string& write : fStream.writes)
			sizes.push_back(write.size());
		return sizes;
	}
};

}  // namespace


TEST_F(OutputBuffer, FullBufferIsHeldUntilTheFlush)
{
	std::vector<char> data = pattern(1024, 1);
	SendToOutput(data.data(), 1024);
	EXPECT_TRUE(fStream.writes.empty());

	SendToOutput(NULL, 0);
	ASSERT_EQ(WriteSizes(), std::vector<size_t>({1024}));
	EXPECT_EQ(fStream.writes[0], std::string(data.begin(), data.end()));
}


TEST_F(OutputBuffer, OverflowWritesOneBlockAndKeepsTheRest)
{
	std::vector<char> data = pattern(1025, 2);
	SendToOutput(data.data(), 1025);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({1024}));

	SendToOutput(NULL, 0);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({1024, 1}));
	EXPECT_EQ(fStream.Bytes(), std::string(data.begin(), data.end()));
}


TEST_F(OutputBuffer, BlockJoinsHeldBytesAndTheFirstNewOnes)
{
	std::vector<char> first = pattern(1000, 3);
	std::vector<char> second = pattern(100, 4);
	SendToOutput(first.data(), 1000);
	SendToOutput(second.data(), 100);
	ASSERT_EQ(WriteSizes(), std::vector<size_t>({1024}));
	std::string expected(first.begin(), first.end());
	expected.append(second.data(), 24);
	EXPECT_EQ(fStream.writes[0], expected);

	SendToOutput(NULL, 0);
	EXPECT_EQ(fStream.writes[1], std::string(second.data() + 24, 76));
}


TEST_F(OutputBuffer, EveryFlushIsOneWriteEvenWhenEmpty)
{
	SendToOutput(NULL, 0);
	SendToOutput(NULL, 0);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({0, 0}));

	char text[] = "ab";
	SendToOutput(text);
	SendToOutput(NULL, 0);
	SendToOutput(NULL, 0);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({0, 0, 2, 0}));
}


TEST_F(OutputBuffer, StringFormNeverSendsItsTerminator)
{
	char command[] = "\x1b*b0M";
	char empty[] = "";
	SendToOutput(command);
	SendToOutput(empty);
	EXPECT_EQ(Flushed(), std::string("\x1b*b0M"));
}


TEST_F(OutputBuffer, ZeroOrNegativeLengthAppendsNothing)
{
	char data[] = "xyz";
	SendToOutput(data, 0);
	SendToOutput(data, -5);
	EXPECT_TRUE(fStream.writes.empty());
	SendToOutput(NULL, 0);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({0}));
}


TEST_F(OutputBuffer, LongAppendIsWrittenInFullBlocksInOrder)
{
	std::vector<char> head = pattern(10, 5);
	std::vector<char> data = pattern(5000, 6);
	SendToOutput(head.data(), 10);
	SendToOutput(data.data(), 5000);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({1024, 1024, 1024, 1024}));

	SendToOutput(NULL, 0);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({1024, 1024, 1024, 1024, 5010 - 4096}));
	std::string expected(head.begin(), head.end());
	expected.append(data.begin(), data.end());
	EXPECT_EQ(fStream.Bytes(), expected);
}


TEST_F(OutputBuffer, AppendFillingExactlyTwoBlocksHoldsTheSecond)
{
	std::vector<char> data = pattern(2048, 7);
	SendToOutput(data.data(), 2048);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({1024}));
	SendToOutput(NULL, 0);
	EXPECT_EQ(WriteSizes(), std::vector<size_t>({1024, 1024}));
	EXPECT_EQ(fStream.Bytes(), std::string(data.begin(), data.end()));
}
