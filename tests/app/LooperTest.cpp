#include "LooperTestKit.h"

#include <Errors.h>
#include <Handler.h>
#include <Looper.h>
#include <Message.h>
#include <MessageFilter.h>
#include <OS.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

BMessage indexed(uint32 what, int32 index)
{
	BMessage message(what);
	message.AddInt32("index", index);
	return message;
}

}  // namespace

TEST(Looper, PostedMessagesArriveInOrderOnTheLooperThreadLocked)
{
	EventLog log;
	thread_id destroyedOn = -1;
	RecordingLooper* looper = new RecordingLooper("order looper", &log);
	looper->fDestroyedOn = &destroyedOn;
	EXPECT_EQ(looper->Thread(), B_ERROR);
	EXPECT_TRUE(looper->IsLocked());  // created locked
	EXPECT_EQ(looper->CountHandlers(), 1);
	EXPECT_EQ(looper->HandlerAt(0), looper);

	// Posted before Run: they wait in the queue.
	for (int32 i = 0; i < 10; i++) {
		BMessage message = indexed('ordr', i);
		ASSERT_EQ(looper->PostMessage(&message), B_OK);
	}
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);
	EXPECT_EQ(looper->Thread(), thread);
	EXPECT_FALSE(looper->IsLocked());  // Run gave the constructor's lock up
	EXPECT_EQ(find_thread("order looper"), thread);
	EXPECT_EQ(BLooper::LooperForThread(thread), looper);
	// Faster than the loop takes them: a full queue refuses, and the sender tries again.
	int32 refused = 0;
	for (int32 i = 10; i < 200; i++) {
		BMessage message = indexed('ordr', i);
		status_t status;
		while ((status = looper->PostMessage(&message)) == B_WOULD_BLOCK && refused < 100000) {
			refused++;
			snooze(100);
		}
		ASSERT_EQ(status, B_OK);
	}
	ASSERT_TRUE(log.WaitForCount(200));

	std::vector<Seen> seen = log.Messages();
	ASSERT_EQ(seen.size(), 200u);
	for (int32 i = 0; i < 200; i++) {
		EXPECT_EQ(seen[i].index, i);
		EXPECT_EQ(seen[i].thread, thread);
		EXPECT_EQ(seen[i].threadName, "order looper");
		EXPECT_TRUE(seen[i].locked);
	}

	ASSERT_TRUE(looper->Lock());
	looper->Quit();
	// Quit from another thread returns only after the looper is deleted on its own thread.
	EXPECT_EQ(destroyedOn, thread);
	EXPECT_EQ(BLooper::LooperForThread(thread), nullptr);
	EXPECT_EQ(find_thread("order looper"), B_NAME_NOT_FOUND);
}

TEST(Looper, SubclassNamesItsThreadBeforeAndAfterRun)
{
	EventLog log;
	RecordingLooper* looper = new RecordingLooper("Page Setup", &log, "w>Page Setup");
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);
	EXPECT_EQ(find_thread("w>Page Setup"), thread);
	EXPECT_EQ(find_thread("Page Setup"), B_NAME_NOT_FOUND);
	EXPECT_STREQ(looper->Name(), "Page Setup");

	ASSERT_EQ(looper->PostMessage('name'), B_OK);
	ASSERT_TRUE(log.WaitForCount(1));
	EXPECT_EQ(log.Messages()[0].threadName, "w>Page Setup");

	// The name can change while the thread runs, as a window's title can.
	ASSERT_TRUE(looper->Lock());
	looper->Rename("w>Print Setup");
	EXPECT_EQ(find_thread("w>Print Setup"), thread);
	looper->Quit();
}

TEST(Looper, QuitInsideMessageReceivedEndsTheThreadAndDeletesTheLooper)
{
	EventLog log;
	thread_id destroyedOn = -1;
	RecordingLooper* looper = new RecordingLooper("self quitter", &log);
	looper->fDestroyedOn = &destroyedOn;
	// Messages queued behind the quit are dropped and freed with the looper.
	ASSERT_EQ(looper->PostMessage('frst'), B_OK);
	ASSERT_EQ(looper->PostMessage(RecordingLooper::kQuitNow), B_OK);
	ASSERT_EQ(looper->PostMessage('aftr'), B_OK);
	ASSERT_EQ(looper->PostMessage('aftr'), B_OK);
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);

	status_t result = B_ERROR;
	ASSERT_TRUE(wait_for_thread_within(thread, &result));
	EXPECT_EQ(result, B_OK);
	EXPECT_EQ(destroyedOn, thread);
	std::vector<Seen> seen = log.Messages();
	ASSERT_EQ(seen.size(), 2u);
	EXPECT_EQ(seen[0].what, 'frst');
	EXPECT_EQ(seen[1].what, RecordingLooper::kQuitNow);
	std::vector<std::string> notes = log.Notes();
	ASSERT_EQ(notes.size(), 1u);
	EXPECT_EQ(notes[0], "destroyed");  // and never "returned from Quit"
	EXPECT_EQ(BLooper::LooperForThread(thread), nullptr);
}

TEST(Looper, QuitFromAnotherThreadHandlesWhatWasQueuedFirst)
{
	EventLog log;
	thread_id destroyedOn = -1;
	RecordingLooper* looper = new RecordingLooper("outside quit", &log);
	looper->fDestroyedOn = &destroyedOn;
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);

	ASSERT_TRUE(looper->Lock());
	ASSERT_TRUE(looper->Lock());  // Quit gives up every level the caller holds
	for (int32 i = 0; i < 5; i++) {
		BMessage message = indexed('queu', i);
		ASSERT_EQ(looper->PostMessage(&message), B_OK);
	}
	looper->Quit();

	EXPECT_EQ(destroyedOn, thread);
	EXPECT_EQ(log.Messages().size(), 5u);
	// Quit already waited for the thread; it is gone for good.
	EXPECT_EQ(wait_for_thread(thread, nullptr), B_BAD_THREAD_ID);
}

TEST(Looper, QuitWithoutRunDeletesTheLooperAtOnce)
{
	EventLog log;
	thread_id destroyedOn = -1;
	RecordingLooper* looper = new RecordingLooper("never ran", &log);
	looper->fDestroyedOn = &destroyedOn;
	ASSERT_EQ(looper->PostMessage('lost'), B_OK);
	looper->Quit();
	EXPECT_EQ(destroyedOn, find_thread(nullptr));
	EXPECT_TRUE(log.Messages().empty());
}

TEST(Looper, QuitRequestedDecidesWhetherTheLooperQuits)
{
	EventLog log;
	thread_id destroyedOn = -1;
	RecordingLooper* looper = new RecordingLooper("reluctant", &log);
	looper->fDestroyedOn = &destroyedOn;
	looper->fAllowQuit = false;
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);

	ASSERT_EQ(looper->PostMessage(B_QUIT_REQUESTED), B_OK);
	ASSERT_EQ(looper->PostMessage('stil'), B_OK);
	ASSERT_TRUE(log.WaitForCount(1));
	EXPECT_EQ(log.Messages()[0].what, 'stil');  // the request went to QuitRequested only

	ASSERT_TRUE(looper->Lock());
	looper->fAllowQuit = true;
	looper->Unlock();
	ASSERT_EQ(looper->PostMessage(B_QUIT_REQUESTED), B_OK);
	ASSERT_TRUE(wait_for_thread_within(thread));
	EXPECT_EQ(destroyedOn, thread);
}

TEST(Looper, TwoLoopersOfOneNameAreEachWaitedForByTheirThread)
{
	EventLog firstLog, secondLog;
	RecordingLooper* first = new RecordingLooper("twin looper", &firstLog);
	RecordingLooper* second = new RecordingLooper("twin looper", &secondLog);
	thread_id firstThread = first->Run();
	thread_id secondThread = second->Run();
	ASSERT_GT(firstThread, 0);
	ASSERT_GT(secondThread, 0);
	ASSERT_NE(firstThread, secondThread);

	// The second quits first; waiting for it says nothing about the first.
	ASSERT_EQ(second->PostMessage(RecordingLooper::kQuitNow), B_OK);
	ASSERT_TRUE(wait_for_thread_within(secondThread));
	EXPECT_TRUE(secondLog.WaitForNote("destroyed"));
	EXPECT_EQ(BLooper::LooperForThread(firstThread), first);
	EXPECT_EQ(find_thread("twin looper"), firstThread);

	ASSERT_EQ(first->PostMessage('aliv'), B_OK);
	ASSERT_TRUE(firstLog.WaitForCount(1));
	EXPECT_TRUE(firstLog.Notes().empty());

	ASSERT_EQ(first->PostMessage(RecordingLooper::kQuitNow), B_OK);
	ASSERT_TRUE(wait_for_thread_within(firstThread));
	EXPECT_TRUE(firstLog.WaitForNote("destroyed"));
}

TEST(Looper, LockIsRecursiveAndKeepsTheLoopWaiting)
{
	EventLog log;
	RecordingLooper* looper = new RecordingLooper("lock holder", &log);
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);

	ASSERT_TRUE(looper->Lock());
	ASSERT_TRUE(looper->Lock());
	EXPECT_TRUE(looper->IsLocked());
	EXPECT_EQ(looper->CountLocks(), 2);
	EXPECT_EQ(looper->LockingThread(), find_thread(nullptr));
	ASSERT_EQ(looper->PostMessage('wait'), B_OK);

	status_t otherResult = B_OK;
	bool otherLocked = true;
	ASSERT_TRUE(run_on_other_thread([&] {
		otherResult = looper->LockWithTimeout(20000);
		otherLocked = looper->IsLocked();
	}));
	EXPECT_EQ(otherResult, B_TIMED_OUT);
	EXPECT_FALSE(otherLocked);

	looper->Unlock();
	EXPECT_TRUE(looper->IsLocked());
	EXPECT_EQ(looper->CountLocks(), 1);
	EXPECT_TRUE(log.Messages().empty());  // still held: nothing dispatched
	looper->Unlock();
	EXPECT_FALSE(looper->IsLocked());
	ASSERT_TRUE(log.WaitForCount(1));

	// Unlock by a thread that does not hold the lock leaves it alone.
	ASSERT_TRUE(looper->Lock());
	ASSERT_TRUE(run_on_other_thread([&] { looper->Unlock(); }));
	EXPECT_TRUE(looper->IsLocked());
	looper->Quit();
	EXPECT_EQ(BLooper::LooperForThread(thread), nullptr);
}

TEST(Looper, MessageForARemovedHandlerIsDropped)
{
	EventLog log;
	RecordingLooper* looper = new RecordingLooper("handlers", &log);
	RecordingHandler* leaving = new RecordingHandler("leaving", &log);
	RecordingHandler* stays = new RecordingHandler("stays", &log);
	looper->AddHandler(leaving);
	looper->AddHandler(stays);
	EXPECT_EQ(leaving->Looper(), looper);
	EXPECT_EQ(looper->IndexOf(stays), 2);
	EXPECT_EQ(leaving->NextHandler(), looper);

	// Queued while the handler belonged to the looper, dispatched after it left.
	ASSERT_EQ(looper->PostMessage('drop', leaving), B_OK);
	ASSERT_TRUE(looper->RemoveHandler(leaving));
	EXPECT_EQ(leaving->Looper(), nullptr);
	EXPECT_EQ(leaving->NextHandler(), nullptr);
	EXPECT_FALSE(looper->RemoveHandler(leaving));
	EXPECT_EQ(looper->PostMessage('gone', leaving), B_MISMATCHED_VALUES);
	ASSERT_EQ(looper->PostMessage('mark', stays), B_OK);
	ASSERT_GT(looper->Run(), 0);

	ASSERT_TRUE(log.WaitForCount(1));
	ASSERT_TRUE(looper->Lock());
	std::vector<Seen> seen = log.Messages();
	ASSERT_EQ(seen.size(), 1u);
	EXPECT_EQ(seen[0].what, 'mark');
	EXPECT_EQ(seen[0].handler, "stays");

	// A handler deleted while in the looper takes itself out.
	delete stays;
	EXPECT_EQ(looper->CountHandlers(), 1);
	looper->Quit();
	delete leaving;
}

TEST(Looper, UnhandledMessagesGoUpTheChainAndPreferredHandlerTakesUntargeted)
{
	EventLog log;
	RecordingLooper* looper = new RecordingLooper("chain", &log);
	RecordingHandler* passing = new RecordingHandler("passing", &log, true);
	RecordingHandler* preferred = new RecordingHandler("preferred", &log);
	looper->AddHandler(passing);
	looper->AddHandler(preferred);
	looper->SetPreferredHandler(preferred);
	EXPECT_EQ(looper->PreferredHandler(), preferred);
	ASSERT_GT(looper->Run(), 0);

	ASSERT_EQ(looper->PostMessage('pass', passing), B_OK);
	ASSERT_EQ(looper->PostMessage('pref', nullptr), B_OK);
	ASSERT_EQ(looper->PostMessage('self'), B_OK);
	ASSERT_TRUE(log.WaitForCount(4));
	std::vector<Seen> seen = log.Messages();
	EXPECT_EQ(seen[0].handler, "passing");
	EXPECT_EQ(seen[1].handler, "chain");  // passed on to the looper, its next handler
	EXPECT_EQ(seen[1].what, 'pass');
	EXPECT_EQ(seen[2].handler, "preferred");
	EXPECT_EQ(seen[3].handler, "chain");

	// Removing the preferred handler sends untargeted messages to the looper again.
	ASSERT_TRUE(looper->Lock());
	ASSERT_TRUE(looper->RemoveHandler(preferred));
	EXPECT_EQ(looper->PreferredHandler(), nullptr);
	looper->Unlock();
	ASSERT_EQ(looper->PostMessage('pref', nullptr), B_OK);
	ASSERT_TRUE(log.WaitForCount(5));
	EXPECT_EQ(log.Messages()[4].handler, "chain");

	ASSERT_TRUE(looper->Lock());
	looper->Quit();
	delete passing;
	delete preferred;
}

TEST(Looper, DetachedMessageBelongsToTheHandler)
{
	struct Keeper : public BLooper {
		Keeper() : BLooper("keeper") {}
		void MessageReceived(BMessage* message) override
		{
			if (CurrentMessage() == message)
				kept.store(DetachCurrentMessage());
		}
		std::atomic<BMessage*> kept{nullptr};
	};
	Keeper* looper = new Keeper;
	ASSERT_GT(looper->Run(), 0);
	BMessage message('keep');
	message.AddString("text", "kept");
	ASSERT_EQ(looper->PostMessage(&message), B_OK);

	BMessage* kept = nullptr;
	auto deadline = std::chrono::steady_clock::now() + kWatchdog;
	while (kept == nullptr && std::chrono::steady_clock::now() < deadline) {
		ASSERT_TRUE(looper->Lock());
		kept = looper->kept.load();
		looper->Unlock();
		std::this_thread::yield();
	}
	ASSERT_NE(kept, nullptr);
	ASSERT_TRUE(looper->Lock());
	looper->Quit();
	EXPECT_STREQ(kept->GetString("text", ""), "kept");
	delete kept;  // ours, not the looper's
}

TEST(Looper, FullQueueRefusesPostsUntilTheLoopTakesThem)
{
	BLooper* looper = new BLooper("small", B_NORMAL_PRIORITY, 3);
	EXPECT_EQ(looper->PostMessage('one '), B_OK);
	EXPECT_EQ(looper->PostMessage('two '), B_OK);
	EXPECT_EQ(looper->PostMessage('thre'), B_OK);
	EXPECT_EQ(looper->PostMessage('four'), B_WOULD_BLOCK);
	EXPECT_TRUE(looper->IsMessageWaiting());
	EXPECT_EQ(looper->MessageQueue()->CountMessages(), 3);
	EXPECT_EQ(looper->MessageQueue()->FindMessage(static_cast<uint32>('two '))->what, 'two ');
	delete looper;  // never ran: deleting directly is allowed
}

namespace {

// The shape of a modal dialog: built and started by a caller that then only waits for the
// window's thread; the window's thread writes the answer into the caller's message and
// quits itself.
class AnswerLooper : public BLooper {
public:
	AnswerLooper(BMessage* result, filter_hook keys) : BLooper("Print Setup"), fResult(result)
	{
		SetThreadName("w>Print Setup");
		AddCommonFilter(new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, B_KEY_DOWN, keys));
	}

	void MessageReceived(BMessage* message) override
	{
		switch (message->GetInt8("cmd_code", -1)) {
			case 1:
				fResult->AddInt32("status", 0);
				fResult->AddInt16("copies", fCopies);
				Lock();
				Quit();
				break;
			default:
				if (message->what == B_KEY_DOWN)
					fCopies = fCopies * 10 + (message->GetString("bytes", "0")[0] - '0');
				break;
		}
	}

private:
	BMessage* fResult;
	int16 fCopies = 0;
};

filter_result digit_keys(BMessage* message, BHandler**, BMessageFilter*)
{
	const char* bytes = message->GetString("bytes", "");
	return bytes[0] >= '0' && bytes[0] <= '9' ? B_DISPATCH_MESSAGE : B_SKIP_MESSAGE;
}

}  // namespace

TEST(Looper, DialogCallerWaitsForTheWindowThreadAndReadsTheAnswer)
{
	BMessage settings('sett');
	AnswerLooper* window = new AnswerLooper(&settings, digit_keys);
	ASSERT_GT(window->Run(), 0);
	for (const char* key : {"1", "x", "2", "-"}) {
		BMessage down(B_KEY_DOWN);
		down.AddString("bytes", key);
		ASSERT_EQ(window->PostMessage(&down), B_OK);
	}
	BMessage ok(uint32(0));
	ok.AddInt8("cmd_code", 1);
	ASSERT_EQ(window->PostMessage(&ok), B_OK);

	thread_id thread = find_thread("w>Print Setup");
	ASSERT_GT(thread, 0);
	ASSERT_TRUE(wait_for_thread_within(thread));
	EXPECT_EQ(settings.GetInt32("status", -1), 0);
	EXPECT_EQ(settings.GetInt16("copies", 0), 12);
	EXPECT_EQ(find_thread("w>Print Setup"), B_NAME_NOT_FOUND);
}
