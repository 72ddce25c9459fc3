// What the CUPS tests read back: the bytes a job produced, decoded into pages of inks, and
// checks of where the inks of a rectangle landed.
#pragma once

#include "PclPreview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using preview::kBlackInk;
using preview::kCyanInk;
using preview::kMagentaInk;
using preview::kYellowInk;

inline std::vector<uint8_t> read_bytes(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
}

// The pages of a stream; `complete` says whether it decoded to its end (a job stopped
// early ends inside a page).
inline std::vector<preview::Page> decode_pages(const std::vector<uint8_t>& stream,
	bool* complete = nullptr)
{
	std::vector<preview::Page> pages;
	preview::DecodeError error;
	bool whole = preview::decode_stream(stream.data(), stream.size(),
		[&](const preview::Page& page, std::string*) {
			pages.push_back(page);
			return true;
		},
		&error);
	if (complete != nullptr)
		*complete = whole;
	else
		EXPECT_TRUE(whole) << error.message << " at byte " << error.offset;
	return pages;
}

// The pages of a stream as the printer prints them on their sheets: each raster placed at
// the device model's raster origin, cut at the sheet's edges (preview::on_sheet).
inline std::vector<preview::Page> on_sheets(const std::vector<preview::Page>& pages)
{
	std::vector<preview::Page> sheets;
	for (const preview::Page& page : pages)
		sheets.push_back(preview::on_sheet(page, preview::sheet_for(page)));
	return sheets;
}

// A rectangle of the page in dots, right and bottom exclusive, and the inks it should carry.
struct InkBox {
	double left, top, right, bottom;
	uint8_t inks;
};

// The part of a box of the sheet that the printer reaches: what lies left of or above the
// raster origin is not printed.
inline InkBox printed_part(const InkBox& box, const preview::Sheet& sheet)
{
	InkBox part = box;
	part.left = std::max<double>(box.left, sheet.originX);
	part.top = std::max<double>(box.top, sheet.originY);
	return part;
}

inline uint8_t ink_at(const preview::Page& page, int x, int y)
{
	if (x < 0 || y < 0 || x >= page.width || y >= page.rows)
		return 0;
	return page.inks[static_cast<size_t>(y) * page.width + x];
}

// Every box is filled with its inks (`density` of its inner dots, three dots in from its edges,
// carry exactly them), and no dot outside the boxes (two dots out from their edges) carries
// any ink.
inline void expect_ink_boxes(const preview::Page& page, const std::vector<InkBox>& boxes,
	double density = 0.9)
{
	for (const InkBox& box : boxes) {
		int matching = 0;
		int total = 0;
		for (int y = static_cast<int>(box.top + 3); y < box.bottom - 3; y++) {
			for (int x = static_cast<int>(box.left + 3); x < box.right - 3; x++) {
				total++;
				matching += ink_at(page, x, y) == box.inks;
			}
		}
		ASSERT_GT(total, 20) << "box at " << box.left << "," << box.top;
		EXPECT_GE(matching, total * density) << "box of inks " << int(box.inks) << " on dots "
			<< box.left << "," << box.top << " to " << box.right << "," << box.bottom;
	}
	int stray = 0;
	for (int y = 0; y < page.rows; y++) {
		for (int x = 0; x < page.width; x++) {
			if (ink_at(page, x, y) == 0)
				continue;
			bool inside = false;
			for (const InkBox& box : boxes) {
				inside = inside || (x >= box.left - 2 && x < box.right + 2 && y >= box.top - 2
					&& y < box.bottom + 2);
			}
			if (!inside && stray++ < 3)
				ADD_FAILURE() << "ink at dot " << x << "," << y << " outside every box";
		}
	}
	EXPECT_EQ(stray, 0);
}
