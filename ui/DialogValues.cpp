#include "DialogValues.h"

#include "DeviceModel.h"
#include "PageSetupInterface.h"

#include <InterfaceDefs.h>
#include <Message.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

double entry_value(const char* text)
{
	if (text == nullptr)
		return 0;
	return strtod(text, nullptr);
}

std::string trimmed_decimal(const char* text)
{
	std::string trimmed = text != nullptr ? text : "";
	// Only the decimals may go: without a point the zeros are part of the number.
	if (trimmed.find('.') == std::string::npos)
		return trimmed;
	while (!trimmed.empty() && trimmed.back() == '0')
		trimmed.pop_back();
	if (!trimmed.empty() && trimmed.back() == '.')
		trimmed.push_back('0');
	return trimmed;
}

int8 paper_row(int8 stored)
{
	return stored >= 0 && stored < kPaperRowCount ? stored : kOtherPaperRow;
}

bool page_entry_valid(double value)
{
	// Stored as a float: a double beyond the float range would become endless there.
	float stored = static_cast<float>(value);
	return std::isfinite(value) && std::isfinite(stored) && stored > 0;
}

int8 remembered_paper_row(int8 paper_index, double height, double width)
{
	int8 row = paper_row(paper_index);
	if (height == entry_value(page_vert_sizes[row]) && width == entry_value(page_horiz_sizes[row]))
		return row;
	return kOtherPaperRow;
}

bool preview_shape(float height, float width, PreviewShape* shape)
{
	if (!std::isfinite(height) || !std::isfinite(width) || height <= 0 || width <= 0)
		return false;
	PreviewShape fitted;
	if (height == std::max(height, width)) {
		fitted.height = 100;
		fitted.width = 100 * width / height;
	} else {
		fitted.width = 100;
		fitted.height = 100 * height / width;
	}
	// A ratio far enough from 1 can leave a side of nothing; that is no shape either.
	if (!std::isfinite(fitted.width) || !std::isfinite(fitted.height) || fitted.width <= 0
		|| fitted.height <= 0)
		return false;
	fitted.left = (110 - fitted.width) * 0.5f;
	fitted.top = (110 - fitted.height) * 0.5f;
	*shape = fitted;
	return true;
}

bool preview_letter_size(float shownWidth, float shownHeight, float scaling, float* size)
{
	float letter = std::min(shownWidth, shownHeight) * scaling / 150;
	// Beyond a few thousand pixels the letter covers the whole page anyway; larger sizes
	// only ask the font engine for the absurd.
	if (!std::isfinite(letter) || letter <= 0 || letter > 10000)
		return false;
	*size = letter;
	return true;
}

long long entry_number(const char* text)
{
	if (text == nullptr)
		return 0;
	// strtoll stops at the ends of its range instead of wrapping.
	return strtoll(text, nullptr, 10);
}

bool job_number_valid(long long value)
{
	return value >= 1 && value <= std::numeric_limits<int16>::max();
}

bool job_entries_valid(long long copies, bool pageRange, long long from, long long to)
{
	if (!job_number_valid(copies))
		return false;
	if (!pageRange)
		return true;
	return job_number_valid(from) && job_number_valid(to) && from <= to;
}

int32 resolution_for_quality(bool present, int8 quality)
{
	if (!present)
		return device::dpi_for_quality_type(device::kDefaultQualityType);
	return device::dpi_for_quality_type(quality);
}

// Key filters

bool number_key_passes(const BMessage* message, int8* key)
{
	*key = 0;
	int32 modifiers = 0;
	(void)message->FindInt32("modifiers", &modifiers);  // none when missing
	if ((modifiers & B_COMMAND_KEY) != 0)
		return true;
	const char* bytes = nullptr;
	if (message->FindString("bytes", &bytes) != B_OK || bytes == nullptr)
		return true;

	*key = static_cast<int8>(bytes[0]);
	if (*key >= '0' && *key <= '9')
		return true;
	switch (*key) {
		case B_BACKSPACE:
		case B_TAB:
		case B_ENTER:
		case B_LEFT_ARROW:
		case B_RIGHT_ARROW:
		case B_UP_ARROW:
		case B_DOWN_ARROW:
			return true;
		default:
			return false;
	}
}
