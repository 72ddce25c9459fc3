#include "LooperTestKit.h"

#include <AppDefs.h>
#include <Handler.h>
#include <Looper.h>
#include <Message.h>
#include <MessageFilter.h>

#include <gtest/gtest.h>

namespace {

// Shared with the hooks below, which get no other context. Written on the looper's thread
// only; the test reads it after the thread has ended.
EventLog* gLog = nullptr;

void note_filter(const char* what, BMessage* message)
{
	thread_info info;
	std::string thread = get_thread_info(find_thread(nullptr), &info) == B_OK ? info.name : "";
	gLog->Note(std::string(what) + " " + thread + " "
		+ std::to_string(message->GetInt32("index", -1)));
}

// The dialogs' kind of key filter: digits and editing keys pass, Command-key shortcuts and
// keys without "bytes" pass, every other key is dropped.
filter_result digits_only(BMessage* message, BHandler** /*target*/, BMessageFilter* filter)
{
	note_filter(filter->Looper() != nullptr ? "key" : "key-without-looper", message);
	if ((message->GetInt32("modifiers", 0) & 0x02) != 0)
		return B_DISPATCH_MESSAGE;
	const char* bytes = nullptr;
	if (message->FindString("bytes", &bytes) != B_OK)
		return B_DISPATCH_MESSAGE;
	signed char key = static_cast<signed char>(bytes[0]);
	if ((key >= '0' && key <= '9') || key == 0x08 || key == 0x09)
		return B_DISPATCH_MESSAGE;
	return B_SKIP_MESSAGE;
}

filter_result note_any(BMessage* message, BHandler**, BMessageFilter*)
{
	note_filter("any", message);
	return B_DISPATCH_MESSAGE;
}

filter_result note_handler_filter(BMessage* message, BHandler**, BMessageFilter*)
{
	note_filter("handler", message);
	return B_DISPATCH_MESSAGE;
}

BHandler* gRedirectTo = nullptr;

filter_result redirect(BMessage* message, BHandler** target, BMessageFilter*)
{
	note_filter("redirect", message);
	*target = gRedirectTo;
	return B_DISPATCH_MESSAGE;
}

BMessage key_down(int32 index, const char* bytes, int32 modifiers = 0)
{
	BMessage message(B_KEY_DOWN);
	message.AddInt32("index", index);
	message.AddInt32("modifiers", modifiers);
	if (bytes != nullptr)
		message.AddString("bytes", bytes);
	return message;
}

class FilterTest : public ::testing::Test {
protected:
	void SetUp() override { gLog = &fLog; }
	void TearDown() override
	{
		gLog = nullptr;
		gRedirectTo = nullptr;
	}

	// Quits the looper from inside and waits until its thread has ended.
	void QuitAndWait(BLooper* looper)
	{
		thread_id thread = looper->Thread();
		ASSERT_EQ(looper->PostMessage(RecordingLooper::kQuitNow), B_OK);
		ASSERT_TRUE(wait_for_thread_within(thread));
	}

	EventLog fLog;
};

}  // namespace

TEST_F(FilterTest, KeyFilterDropsKeysByTheirBytesBeforeTheHandlerRuns)
{
	RecordingLooper* looper = new RecordingLooper("keys", &fLog);
	BMessageFilter* filter = new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, B_KEY_DOWN,
		digits_only);
	EXPECT_FALSE(filter->FiltersAnyCommand());
	EXPECT_EQ(filter->Command(), static_cast<uint32>(B_KEY_DOWN));
	EXPECT_EQ(filter->MessageDelivery(), B_ANY_DELIVERY);
	EXPECT_EQ(filter->MessageSource(), B_ANY_SOURCE);
	looper->AddCommonFilter(filter);
	EXPECT_EQ(filter->Looper(), looper);
	ASSERT_EQ(looper->CommonFilterList().size(), 1u);

	const char* keys[] = {"7", "a", " ", "-", "\x08", "\xc3\xa9", "0"};
	for (int32 i = 0; i < 7; i++) {
		BMessage message = key_down(i, keys[i]);
		ASSERT_EQ(looper->PostMessage(&message), B_OK);
	}
	BMessage shortcut = key_down(7, "x", 0x02);
	BMessage noBytes = key_down(8, nullptr);
	BMessage other('othr');
	other.AddInt32("index", 9);
	ASSERT_EQ(looper->PostMessage(&shortcut), B_OK);
	ASSERT_EQ(looper->PostMessage(&noBytes), B_OK);
	ASSERT_EQ(looper->PostMessage(&other), B_OK);
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);
	QuitAndWait(looper);

	std::vector<int32> handled;
	for (const Seen& seen : fLog.Messages()) {
		if (seen.what != RecordingLooper::kQuitNow)
			handled.push_back(seen.index);
	}
	EXPECT_EQ(handled, (std::vector<int32>{0, 4, 6, 7, 8, 9}));

	// The filter saw every key and nothing else, on the looper's thread.
	std::vector<std::string> notes = fLog.Notes();
	ASSERT_EQ(notes.size(), 10u);  // nine keys and "destroyed"
	for (int32 i = 0; i < 9; i++)
		EXPECT_EQ(notes[i], "key keys " + std::to_string(i));
	EXPECT_EQ(notes[9], "destroyed");
}

TEST_F(FilterTest, CommonFiltersRunInOrderThenTheHandlersOwn)
{
	RecordingLooper* looper = new RecordingLooper("order", &fLog);
	RecordingHandler* handler = new RecordingHandler("target", &fLog);
	looper->AddHandler(handler);
	looper->AddCommonFilter(new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, note_any));
	looper->AddCommonFilter(new BMessageFilter('only', note_handler_filter));
	handler->AddFilter(new BMessageFilter(B_PROGRAMMED_DELIVERY, B_LOCAL_SOURCE, note_any));
	EXPECT_EQ(handler->FilterList()[0]->Looper(), looper);

	BMessage first('only');
	first.AddInt32("index", 1);
	BMessage second('else');
	second.AddInt32("index", 2);
	ASSERT_EQ(looper->PostMessage(&first, handler), B_OK);
	ASSERT_EQ(looper->PostMessage(&second, handler), B_OK);
	ASSERT_GT(looper->Run(), 0);
	ASSERT_TRUE(fLog.WaitForCount(2));
	ASSERT_TRUE(looper->Lock());
	delete handler;  // takes itself and its filter out of the looper
	looper->Unlock();
	QuitAndWait(looper);

	// Every filter ran before the handler saw the message.
	std::vector<std::string> expected = {"any order 1", "handler order 1", "any order 1",
		"handled target 1", "any order 2", "any order 2", "handled target 2", "any order -1",
		"handled order -1", "destroyed"};
	EXPECT_EQ(fLog.Sequence(), expected);
}

TEST_F(FilterTest, DeliveryAndSourceDecideWhetherAFilterApplies)
{
	RecordingLooper* looper = new RecordingLooper("sources", &fLog);
	// Posted messages are programmed and local: these two never apply.
	looper->AddCommonFilter(new BMessageFilter(B_DROPPED_DELIVERY, B_ANY_SOURCE, redirect));
	looper->AddCommonFilter(new BMessageFilter(B_ANY_DELIVERY, B_REMOTE_SOURCE, redirect));
	looper->AddCommonFilter(new BMessageFilter(B_PROGRAMMED_DELIVERY, B_LOCAL_SOURCE, note_any));
	BMessage message('post');
	message.AddInt32("index", 3);
	ASSERT_EQ(looper->PostMessage(&message), B_OK);
	ASSERT_GT(looper->Run(), 0);
	ASSERT_TRUE(fLog.WaitForCount(1));
	QuitAndWait(looper);

	EXPECT_EQ(fLog.Messages()[0].index, 3);
	EXPECT_EQ(fLog.Notes()[0], "any sources 3");
	for (const std::string& note : fLog.Notes())
		EXPECT_EQ(note.find("redirect"), std::string::npos);
}

TEST_F(FilterTest, FilterMaySendTheMessageToAnotherHandlerOfTheLooper)
{
	RecordingLooper* looper = new RecordingLooper("redirects", &fLog);
	RecordingHandler* original = new RecordingHandler("original", &fLog);
	RecordingHandler* chosen = new RecordingHandler("chosen", &fLog);
	looper->AddHandler(original);
	looper->AddHandler(chosen);
	chosen->AddFilter(new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, note_handler_filter));
	looper->AddCommonFilter(new BMessageFilter('redi', redirect));
	gRedirectTo = chosen;

	BLooper* other = new BLooper("elsewhere");
	RecordingHandler* stranger = new RecordingHandler("stranger", &fLog);
	other->AddHandler(stranger);

	BMessage message('redi');
	message.AddInt32("index", 1);
	ASSERT_EQ(looper->PostMessage(&message, original), B_OK);
	ASSERT_GT(looper->Run(), 0);
	ASSERT_TRUE(fLog.WaitForCount(1));

	// A handler of another looper is no target: the message is dropped.
	ASSERT_TRUE(looper->Lock());
	gRedirectTo = stranger;
	looper->Unlock();
	message.ReplaceInt32("index", 2);
	ASSERT_EQ(looper->PostMessage(&message, original), B_OK);
	QuitAndWait(looper);

	std::vector<Seen> seen = fLog.Messages();
	ASSERT_EQ(seen.size(), 2u);
	EXPECT_EQ(seen[0].handler, "chosen");
	EXPECT_EQ(seen[0].index, 1);
	EXPECT_EQ(seen[1].what, RecordingLooper::kQuitNow);
	std::vector<std::string> notes = fLog.Notes();
	ASSERT_GE(notes.size(), 3u);
	EXPECT_EQ(notes[0], "redirect redirects 1");
	EXPECT_EQ(notes[1], "handler redirects 1");  // the new target's own filter ran
	EXPECT_EQ(notes[2], "redirect redirects 2");

	delete original;
	delete chosen;
	delete other;  // never ran
	delete stranger;
}

TEST_F(FilterTest, FiltersBelongToOneOwnerAndAreDeletedWithIt)
{
	struct CountedFilter : public BMessageFilter {
		explicit CountedFilter(int* deaths) : BMessageFilter(B_KEY_DOWN), fDeaths(deaths) {}
		~CountedFilter() override { (*fDeaths)++; }
		int* fDeaths;
	};
	int deaths = 0;
	BLooper* looper = new BLooper("owner");
	CountedFilter* common = new CountedFilter(&deaths);
	CountedFilter* removed = new CountedFilter(&deaths);
	looper->AddCommonFilter(common);
	looper->AddCommonFilter(removed);
	looper->AddCommonFilter(common);  // already in: refused, not added twice
	EXPECT_EQ(looper->CommonFilterList().size(), 2u);
	BHandler handler("other owner");
	handler.AddFilter(common);  // belongs to the looper: refused
	EXPECT_TRUE(handler.FilterList().empty());

	EXPECT_TRUE(looper->RemoveCommonFilter(removed));
	EXPECT_EQ(removed->Looper(), nullptr);
	EXPECT_FALSE(looper->RemoveCommonFilter(removed));
	looper->Quit();  // never ran: deleted at once, with its filter
	EXPECT_EQ(deaths, 1);
	delete removed;
	EXPECT_EQ(deaths, 2);
}
