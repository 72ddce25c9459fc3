// Shared fixture of the engine tests: a stream that records every Write call, and a clean
// set of job-wide values and an empty output buffer for each test.
#pragma once

#include <DataIO.h>
#include <OutputBuffer.h>

#include "EngineInternal.h"
#include "TessaryPrint.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Logs the size and bytes of each Write call.
class RecordingStream : public BDataIO {
public:
	ssize_t Write(const void* buffer, size_t size) override
	{
		writes.emplace_back((const char*)buffer, size);
		return (ssize_t)size;
	}

	// Everything written, in order.
	std::string Bytes() const
	{
		std::string all;
		for (const std::string& write : writes)
			all += write;
		return all;
	}

	std::vector<std::string> writes;
};


class EngineTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		reset_output_buffer();
		fStream.writes.clear();
		stream = &fStream;
		factor = 0;
		SpoolWidth = 0;
		band_num = 0;
		band_bmp = nullptr;
		band_view = nullptr;
		job_failed = false;
		row_encoding = RowEncoding::kWhole;
	}

	void TearDown() override
	{
		reset_output_buffer();
		stream = nullptr;
	}

	// Flushes the buffer and returns all bytes the stream has seen.
	std::string Flushed()
	{
		SendToOutput(NULL, 0);
		return fStream.Bytes();
	}

	RecordingStream fStream;
};


// A band of B_RGB16_BIG pixels laid out with the band bitmap's stride, every pixel `high`,
// `low` (rows 0 to 100, so the unread last row and column exist as in the bitmap).
struct TestBand {
	TestBand(int32 spool_width, uint8 high, uint8 low)
		:
		bytes_per_row(band_bytes_per_row(spool_width)),
		bits(bytes_per_row * (kBandRows + 1))
	{
		for (size_t i = 0; i < bits.size(); i += 2) {
			bits[i] = high;
			bits[i + 1] = low;
		}
	}

	void SetPixel(int32 x, int32 row, uint8 high, uint8 low)
	{
		bits[row * bytes_per_row + 2 * x] = high;
		bits[row * bytes_per_row + 2 * x + 1] = low;
	}

	size_t bytes_per_row;
	std::vector<uint8> bits;
};


inline std::string hex_bytes(std::initializer_list<int> bytes)
{
	std::string text;
	for (int byte : bytes)
		text += (char)byte;
	return text;
}
