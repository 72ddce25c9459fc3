#include <DataIO.h>

#include <gtest/gtest.h>

#include <cstring>

TEST(MallocIO, WritesGrowReadsBackAndSeeksPastEndZeroFill)
{
	BMallocIO io;
	ASSERT_EQ(io.Write("abc", 3), 3);
	ASSERT_EQ(io.Seek(6, SEEK_SET), 6);
	ASSERT_EQ(io.Write("z", 1), 1);
	EXPECT_EQ(io.BufferLength(), 7u);
	EXPECT_EQ(memcmp(io.Buffer(), "abc\0\0\0z", 7), 0);

	char buffer[8] = {};
	io.Seek(1, SEEK_SET);
	EXPECT_EQ(io.Read(buffer, sizeof(buffer)), 6);
	EXPECT_EQ(io.Read(buffer, sizeof(buffer)), 0);
	EXPECT_EQ(io.Seek(-1, SEEK_SET), B_BAD_VALUE);
}

TEST(MemoryIO, NeverWritesPastTheCallersBuffer)
{
	char storage[4] = {'.', '.', '.', '.'};
	BMemoryIO io(storage, sizeof(storage));
	EXPECT_EQ(io.Write("123456", 6), 4);
	EXPECT_EQ(io.Write("7", 1), 0);
	EXPECT_EQ(memcmp(storage, "1234", 4), 0);

	const char readOnly[] = "xy";
	BMemoryIO constant(readOnly, 2);
	EXPECT_EQ(constant.Write("a", 1), B_NOT_ALLOWED);
	char out[2];
	EXPECT_EQ(constant.ReadExactly(out, 2), B_OK);
	EXPECT_EQ(constant.ReadExactly(out, 1), B_BAD_DATA);
}
