// Records of a spool file that the engine tests put together with SpoolBuilder: the job's
// settings as config_job leaves them, and pictures recorded from drawing on a view.
#pragma once

#include <Bitmap.h>
#include <DataIO.h>
#include <JobSettings.h>
#include <Message.h>
#include <Picture.h>
#include <View.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

// The four fields the engine reads, flattened.
inline std::string flattened_settings(BRect paper, int32 xres, int16 copies, int16 bw)
{
	BMessage settings('okok');
	settings.AddRect(kPaperRectField, paper);
	settings.AddInt32(kXResField, xres);
	settings.AddInt16(kCopiesField, copies);
	settings.AddInt16(kBWModeField, bw);
	BMallocIO flat;
	EXPECT_EQ(settings.Flatten(&flat), B_OK);
	return std::string((const char*)flat.Buffer(), flat.BufferLength());
}

// A flattened picture of what `draw` does on a view that records.
inline std::string recorded_picture(const std::function<void(BView*)>& draw)
{
	BBitmap canvas(BRect(0, 0, 15, 15), B_BITMAP_ACCEPTS_VIEWS, B_RGB32);
	BView* view = new BView(canvas.Bounds(), "canvas", B_FOLLOW_ALL_SIDES, B_WILL_DRAW);
	canvas.AddChild(view);
	BPicture picture;
	view->BeginPicture(&picture);
	draw(view);
	view->EndPicture();
	BMallocIO flat;
	EXPECT_EQ(picture.Flatten(&flat), B_OK);
	return std::string((const char*)flat.Buffer(), flat.BufferLength());
}
