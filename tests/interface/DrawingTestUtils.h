// Bitmaps with one view for the drawing tests, and pixel readers for them.
#pragma once

#include <Bitmap.h>
#include <View.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

// A white bitmap of the given size with a view covering it.
struct Canvas {
	std::unique_ptr<BBitmap> bitmap;
	BView* view;

	Canvas(int32 width, int32 height, color_space space = B_RGB16_BIG)
		:
		bitmap(new BBitmap(BRect(0, 0, width - 1, height - 1), space, true))
	{
		view = new BView(bitmap->Bounds(), "canvas", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
		bitmap->AddChild(view);
		view->PushState();
		view->SetHighColor(255, 255, 255);
		view->FillRect(view->Bounds());
		view->PopState();
	}

	int32 Width() const { return bitmap->Bounds().IntegerWidth() + 1; }
	int32 Height() const { return bitmap->Bounds().IntegerHeight() + 1; }

	const uint8* Pixel(int32 x, int32 y) const
	{
		size_t size = bytes_per_pixel_of(bitmap->ColorSpace());
		return static_cast<const uint8*>(bitmap->Bits()) + y * bitmap->BytesPerRow() + x * size;
	}

	// The 16-bit word of a B_RGB16_BIG pixel.
	uint16 Word(int32 x, int32 y) const
	{
		const uint8* pixel = Pixel(x, y);
		return static_cast<uint16>((pixel[0] << 8) | pixel[1]);
	}

	// Red, green and blue of a B_RGB32 pixel.
	uint32 Rgb(int32 x, int32 y) const
	{
		const uint8* pixel = Pixel(x, y);
		return (uint32(pixel[2]) << 16) | (uint32(pixel[1]) << 8) | pixel[0];
	}

	// Checks every pixel of a B_RGB16_BIG canvas: inside(x, y) ones hold expected, all the
	// others are white. Reports the first mismatch.
	::testing::AssertionResult Covers(const std::function<bool(int32, int32)>& inside,
		uint16 expected) const
	{
		return Shows([&](int32 x, int32 y) -> uint16 { return inside(x, y) ? expected : 0xffff; });
	}

	// Checks every pixel of a B_RGB16_BIG canvas against the word expected(x, y) gives.
	::testing::AssertionResult Shows(const std::function<uint16(int32, int32)>& expected) const
	{
		for (int32 y = 0; y < Height(); y++) {
			for (int32 x = 0; x < Width(); x++) {
				uint16 want = expected(x, y);
				if (Word(x, y) != want) {
					return ::testing::AssertionFailure()
						<< "pixel (" << x << ", " << y << ") is " << std::hex << Word(x, y)
						<< ", expected " << want;
				}
			}
		}
		return ::testing::AssertionSuccess();
	}

	// Number of pixels of a B_RGB16_BIG canvas that are neither white nor value.
	int32 CountOther(uint16 value) const
	{
		int32 count = 0;
		for (int32 y = 0; y < Height(); y++)
			for (int32 x = 0; x < Width(); x++)
				count += Word(x, y) != value && Word(x, y) != 0xffff;
		return count;
	}

	int32 Count(uint16 value) const
	{
		int32 count = 0;
		for (int32 y = 0; y < Height(); y++)
			for (int32 x = 0; x < Width(); x++)
				count += Word(x, y) == value;
		return count;
	}
};

inline std::function<bool(int32, int32)> in_rect(int32 left, int32 top, int32 right,
	int32 bottom)
{
	return [=](int32 x, int32 y) { return x >= left && x <= right && y >= top && y <= bottom; };
}
