#include "LooperTestKit.h"

#include <Errors.h>
#include <Handler.h>
#include <Looper.h>
#include <Message.h>
#include <Messenger.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(Messenger, PostsToItsHandlerAndFailsCleanlyOnceTheLooperQuit)
{
	EventLog log;
	RecordingLooper* looper = new RecordingLooper("messenger target", &log);
	RecordingHandler* handler = new RecordingHandler("handler", &log);
	looper->AddHandler(handler);
	status_t result = B_ERROR;
	BMessenger toHandler(handler, nullptr, &result);
	EXPECT_EQ(result, B_OK);
	BMessenger toLooper(looper);
	BMessenger toPreferred(nullptr, looper, &result);
	EXPECT_EQ(result, B_OK);
	EXPECT_TRUE(toHandler.IsValid());
	EXPECT_NE(toHandler, toLooper);
	EXPECT_EQ(toLooper, BMessenger(looper));
	BLooper* targetLooper = nullptr;
	EXPECT_EQ(toHandler.Target(&targetLooper), handler);
	EXPECT_EQ(targetLooper, looper);
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);

	ASSERT_EQ(toHandler.SendMessage('hand'), B_OK);
	ASSERT_EQ(toLooper.SendMessage('loop'), B_OK);
	BMessage reply;
	ASSERT_EQ(toPreferred.SendMessage('pref', &reply), B_OK);
	EXPECT_EQ(reply.what, static_cast<uint32>(B_NO_REPLY));
	ASSERT_TRUE(log.WaitForCount(3));
	std::vector<Seen> seen = log.Messages();
	EXPECT_EQ(seen[0].handler, "handler");
	EXPECT_EQ(seen[1].handler, "messenger target");
	EXPECT_EQ(seen[2].handler, "messenger target");  // no preferred handler: the looper

	ASSERT_TRUE(toHandler.LockTarget());
	EXPECT_TRUE(looper->IsLocked());
	looper->Unlock();

	ASSERT_EQ(toLooper.SendMessage(RecordingLooper::kQuitNow), B_OK);
	ASSERT_TRUE(wait_for_thread_within(thread));
	EXPECT_TRUE(log.WaitForNote("destroyed"));

	for (const BMessenger* messenger : {&toHandler, &toLooper, &toPreferred}) {
		EXPECT_FALSE(messenger->IsValid());
		EXPECT_EQ(messenger->SendMessage('late'), B_BAD_PORT_ID);
		EXPECT_FALSE(messenger->LockTarget());
		BLooper* gone = looper;  // anything but NULL; never followed
		EXPECT_EQ(messenger->Target(&gone), nullptr);
		EXPECT_EQ(gone, nullptr);
	}
	// A messenger made now finds no looper: the handler belongs to none any more.
	BMessenger late(handler, nullptr, &result);
	EXPECT_EQ(result, B_BAD_HANDLER);
	EXPECT_FALSE(late.IsValid());
	EXPECT_EQ(late.SendMessage('late'), B_BAD_PORT_ID);
	delete handler;
}

TEST(Messenger, RefusesTargetsThatDoNotFit)
{
	BLooper* first = new BLooper("first");
	BLooper* second = new BLooper("second");
	BHandler handler("loose");
	status_t result = B_OK;

	BMessenger loose(&handler, nullptr, &result);
	EXPECT_EQ(result, B_BAD_HANDLER);
	EXPECT_FALSE(loose.IsValid());
	BMessenger nothing(nullptr, nullptr, &result);
	EXPECT_EQ(result, B_BAD_VALUE);
	first->AddHandler(&handler);
	BMessenger mismatched(&handler, second, &result);
	EXPECT_EQ(result, B_MISMATCHED_VALUES);
	EXPECT_FALSE(BMessenger().IsValid());
	EXPECT_EQ(BMessenger().SendMessage('none'), B_BAD_PORT_ID);

	EXPECT_TRUE(first->RemoveHandler(&handler));
	delete first;
	delete second;
}

TEST(Messenger, LockWaiterGivesUpWhenTheLooperQuitsUnderIt)
{
	std::atomic<bool> dispatching{false};
	std::atomic<bool> waiting{false};
	struct Quitter : public BLooper {
		Quitter(std::atomic<bool>* dispatching, std::atomic<bool>* waiting)
			: BLooper("quits while locked"), fDispatching(dispatching), fWaiting(waiting)
		{
		}
		void MessageReceived(BMessage*) override
		{
			// Give the other thread time to block on the lock this dispatch holds.
			*fDispatching = true;
			auto deadline = std::chrono::steady_clock::now() + kWatchdog;
			while (!fWaiting->load() && std::chrono::steady_clock::now() < deadline)
				snooze(1000);
			snooze(50000);
			Lock();
			Quit();
		}
		std::atomic<bool>* fDispatching;
		std::atomic<bool>* fWaiting;
	};
	Quitter* looper = new Quitter(&dispatching, &waiting);
	BMessenger messenger(looper);
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);
	ASSERT_EQ(messenger.SendMessage('quit'), B_OK);

	bool locked = true;
	ASSERT_TRUE(run_on_other_thread([&] {
		auto deadline = std::chrono::steady_clock::now() + kWatchdog;
		while (!dispatching.load() && std::chrono::steady_clock::now() < deadline)
			snooze(1000);
		waiting = true;
		locked = messenger.LockTarget();
	}));
	EXPECT_FALSE(locked);
	ASSERT_TRUE(wait_for_thread_within(thread));
	EXPECT_EQ(messenger.LockTargetWithTimeout(0), B_BAD_VALUE);
}

TEST(Messenger, ManySendersRaceALooperThatQuits)
{
	// Senders keep posting while the looper quits itself part-way: every send either
	// arrives or fails cleanly, and nothing is touched after the looper is gone.
	struct Counter : public BLooper {
		Counter() : BLooper("counter", B_NORMAL_PRIORITY, 1000) {}
		void MessageReceived(BMessage*) override
		{
			if (++count == 300) {
				Lock();
				Quit();
			}
		}
		std::atomic<int32> count{0};
	};
	Counter* looper = new Counter;
	BMessenger messenger(looper);
	thread_id thread = looper->Run();
	ASSERT_GT(thread, 0);

	std::atomic<int32> delivered{0}, refused{0}, other{0};
	std::vector<std::thread> senders;
	for (int s = 0; s < 4; s++) {
		senders.emplace_back([&] {
			for (int i = 0; i < 400; i++) {
				status_t status = messenger.SendMessage('cnt ');
				if (status == B_OK)
					delivered++;
				else if (status == B_BAD_PORT_ID || status == B_WOULD_BLOCK)
					refused++;
				else
					other++;
				if (i % 32 == 0)
					std::this_thread::yield();
			}
		});
	}
	for (std::thread& sender : senders)
		sender.join();
	// Each of the four threads sent 400; the looper quits at the 300th it handles.
	ASSERT_TRUE(wait_for_thread_within(thread));
	EXPECT_EQ(delivered + refused, 1600);
	EXPECT_EQ(other, 0);
	EXPECT_GE(delivered, 300);
	EXPECT_FALSE(messenger.IsValid());
}
