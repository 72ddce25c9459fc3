// The window drawn through the drawing layer: the controls' geometry in the picture, and
// the PNG written from it.
#include "WindowTestKit.h"

#include <Bitmap.h>
#include <Messenger.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

using namespace window_test;

namespace {

struct Pixel {
	uint8 red, green, blue;
	bool operator==(const Pixel& other) const
	{
		return red == other.red && green == other.green && blue == other.blue;
	}
};

Pixel pixel_at(const BBitmap* bitmap, float x, float y)
{
	const uint8* row = static_cast<const uint8*>(bitmap->Bits())
		+ static_cast<int32>(y) * bitmap->BytesPerRow();
	const uint8* bytes = row + static_cast<int32>(x) * 4;
	return Pixel{bytes[2], bytes[1], bytes[0]};
}

bool is_dark(Pixel pixel)
{
	return pixel.red < 128 && pixel.green < 128 && pixel.blue < 128;
}

class ScreenshotTest : public testing::Test {
protected:
	void SetUp() override
	{
		fWindow = new TestWindow("Screenshot Test", &fLog);
		fWindow->Show();
		fMessenger = BMessenger(fWindow);
		fToken = token_of(fWindow);
		ASSERT_NE(fToken, 0);
	}

	void TearDown() override
	{
		(void)fMessenger.SendMessage(B_QUIT_REQUESTED);
		EXPECT_EQ(ScriptedDisplay::WaitForClose(fToken, kTimeout), B_OK);
	}

	std::unique_ptr<BBitmap> Render()
	{
		BBitmap* bitmap = NULL;
		EXPECT_EQ(ScriptedDisplay::Render(fToken, &bitmap), B_OK);
		return std::unique_ptr<BBitmap>(bitmap);
	}

	BRect Frame(const char* view)
	{
		BRect frame;
		EXPECT_EQ(ScriptedDisplay::GetViewFrame(fToken, view, &frame), B_OK);
		return frame;
	}

	MessageLog fLog;
	TestWindow* fWindow;
	BMessenger fMessenger;
	window_token fToken;
};

TEST_F(ScreenshotTest, ControlsDrawInsideTheirFrames)
{
	std::unique_ptr<BBitmap> bitmap = Render();
	ASSERT_TRUE(bitmap);
	ASSERT_EQ(bitmap->Bounds(), BRect(0, 0, 300, 200));

	// The panel grey fills the space between controls.
	EXPECT_EQ(pixel_at(bitmap.get(), 250, 80), (Pixel{216, 216, 216}));

	// The check box: its square's frame lies within the view's frame, on the left.
	BRect check = Frame("Check");
	int32 darkInBox = 0;
	for (float x = check.left; x <= check.left + 14; x++)
		for (float y = check.top; y <= check.bottom; y++)
			darkInBox += is_dark(pixel_at(bitmap.get(), x, y)) ? 1 : 0;
	EXPECT_GT(darkInBox, 30) << "the square's outline";
	Pixel inside = pixel_at(bitmap.get(), check.left + 7, (check.top + check.bottom) / 2);
	EXPECT_EQ(inside, (Pixel{255, 255, 255})) << "an empty box is white inside";

	// The default button wears three dark rings; another button one.
	BRect ok = Frame("OK");
	BRect alert = Frame("Alert");
	float okMiddle = (ok.top + ok.bottom) / 2;
	float alertMiddle = (alert.top + alert.bottom) / 2;
	for (int32 ring = 0; ring < 3; ring++)
		EXPECT_TRUE(is_dark(pixel_at(bitmap.get(), ok.left + ring, okMiddle))) << ring;
	EXPECT_FALSE(is_dark(pixel_at(bitmap.get(), ok.left + 3, okMiddle)));
	EXPECT_TRUE(is_dark(pixel_at(bitmap.get(), alert.left, alertMiddle)));
	EXPECT_FALSE(is_dark(pixel_at(bitmap.get(), alert.left + 1, alertMiddle)));

	// Text fields: a white area right of the divider, holding dark text.
	BRect number = Frame("Number:");
	EXPECT_EQ(pixel_at(bitmap.get(), number.right - 3, number.top + 3), (Pixel{255, 255, 255}));
	int32 darkText = 0;
	for (float x = number.left + 60; x < number.left + 80; x++)
		for (float y = number.top; y <= number.bottom; y++)
			darkText += is_dark(pixel_at(bitmap.get(), x, y)) ? 1 : 0;
	EXPECT_GT(darkText, 5) << "the digits 12";
}

TEST_F(ScreenshotTest, CheckedBoxShowsItsMark)
{
	BRect check = Frame("Check");
	BPoint centre(check.left + 7, (check.top + check.bottom) / 2);
	std::unique_ptr<BBitmap> before = Render();
	ASSERT_EQ(ScriptedDisplay::Click(fToken, "Check"), B_OK);
	std::unique_ptr<BBitmap> after = Render();
	ASSERT_TRUE(before && after);
	EXPECT_FALSE(is_dark(pixel_at(before.get(), centre.x, centre.y)));
	EXPECT_TRUE(is_dark(pixel_at(after.get(), centre.x, centre.y)));
}

TEST_F(ScreenshotTest, ScreenshotWritesAPngOfTheWindowSize)
{
	char path[] = "/tmp/window-shot-XXXXXX";
	int fd = mkstemp(path);
	ASSERT_GE(fd, 0);
	close(fd);
	ASSERT_EQ(ScriptedDisplay::Screenshot(fToken, path), B_OK);
	std::ifstream file(path, std::ios::binary);
	std::vector<uint8> bytes((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
	unlink(path);
	ASSERT_GT(bytes.size(), 24u);
	const uint8 signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
	EXPECT_TRUE(std::equal(signature, signature + 8, bytes.begin()));
	auto big_endian = [&](size_t at) {
		return (uint32(bytes[at]) << 24) | (uint32(bytes[at + 1]) << 16)
			| (uint32(bytes[at + 2]) << 8) | bytes[at + 3];
	};
	EXPECT_EQ(big_endian(16), 301u);
	EXPECT_EQ(big_endian(20), 201u);

	EXPECT_NE(ScriptedDisplay::Screenshot(fToken, "/nonexistent-dir/shot.png"), B_OK);
}

TEST(AlertShot, AsynchronousAlertRendersAndAnswersItsInvoker)
{
	MessageLog log;
	TestWindow* window = new TestWindow("Alert Owner", &log);
	window->Show();
	BMessenger owner(window);
	window_token ownerToken = token_of(window);

	BAlert* alert = new BAlert("alert_window", "\nInvalid Values!\nCheck the number.",
		"Back", "I see");
	BMessage* answer = new BMessage(0);
	answer->AddInt8("cmd_code", 7);
	ASSERT_EQ(alert->Go(new BInvoker(answer, window)), B_OK);
	window_token token;
	ASSERT_EQ(ScriptedDisplay::FindAlert(kTimeout, &token), B_OK);

	BBitmap* bitmap = NULL;
	ASSERT_EQ(ScriptedDisplay::Render(token, &bitmap), B_OK);
	BRect back, see;
	ASSERT_EQ(ScriptedDisplay::GetViewFrame(token, "Back", &back), B_OK);
	ASSERT_EQ(ScriptedDisplay::GetViewFrame(token, "I see", &see), B_OK);
	EXPECT_TRUE(bitmap->Bounds().Contains(see));
	EXPECT_GE(see.Width(), 75) << "the usual width";
	EXPECT_LT(back.right, see.left) << "buttons in order, the last one on the right";
	// The last button is the default: its three dark rings.
	float middle = (see.top + see.bottom) / 2;
	EXPECT_TRUE(is_dark(pixel_at(bitmap, see.left + 2, middle)));
	EXPECT_FALSE(is_dark(pixel_at(bitmap, back.left + 2, middle)));
	delete bitmap;

	ASSERT_EQ(ScriptedDisplay::PressAlertButton(token, "Back"), B_OK);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(token, kTimeout), B_OK);
	ASSERT_TRUE(log.WaitFor(1));
	EXPECT_EQ(log.Messages()[0].code, 7);
	EXPECT_EQ(log.Messages()[0].value, 0) << "\"which\": the first button";

	(void)owner.SendMessage(B_QUIT_REQUESTED);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(ownerToken, kTimeout), B_OK);
}

}  // namespace
