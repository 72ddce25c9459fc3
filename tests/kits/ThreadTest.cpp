#include <OS.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

// A gate a test thread waits at until the test opens it. Every wait has a watchdog so a
// broken thread kit fails the test instead of hanging it.
class Gate {
public:
	void Open()
	{
		std::lock_guard<std::mutex> guard(fLock);
		fOpen = true;
		fChanged.notify_all();
	}
	bool Wait()
	{
		std::unique_lock<std::mutex> guard(fLock);
		return fChanged.wait_for(guard, std::chrono::seconds(10), [&] { return fOpen; });
	}

private:
	std::mutex fLock;
	std::condition_variable fChanged;
	bool fOpen = false;
};

struct Job {
	Gate started;
	Gate release;
	status_t result = B_OK;
	thread_id seenId = 0;
	char hostName[16] = {};
	std::atomic<bool> ran{false};
};

status_t gated_job(void* data)
{
	Job* job = static_cast<Job*>(data);
	job->ran = true;
	job->seenId = find_thread(nullptr);
	pthread_getname_np(pthread_self(), job->hostName, sizeof(job->hostName));
	job->started.Open();
	job->release.Wait();
	return job->result;
}

struct Witness {
	explicit Witness(bool* flag) : fFlag(flag) {}
	~Witness() { *fFlag = true; }
	bool* fFlag;
};

status_t exiting_job(void* data)
{
	Witness witness(static_cast<bool*>(data));
	exit_thread(77);
	return 1;  // never reached
}

}  // namespace

TEST(Thread, NamedThreadIsFoundByNameAndWaitedForWithItsExitValue)
{
	Job job;
	job.result = 1234;
	thread_id thread = spawn_thread(gated_job, "tessary test worker thread", B_NORMAL_PRIORITY,
		&job);
	ASSERT_GT(thread, 0);

	// Suspended until resumed: found, but has not run.
	EXPECT_EQ(find_thread("tessary test worker thread"), thread);
	thread_info info;
	ASSERT_EQ(get_thread_info(thread, &info), B_OK);
	EXPECT_EQ(info.state, B_THREAD_SUSPENDED);
	EXPECT_STREQ(info.name, "tessary test worker thread");
	EXPECT_FALSE(job.ran);

	ASSERT_EQ(resume_thread(thread), B_OK);
	EXPECT_EQ(resume_thread(thread), B_BAD_THREAD_STATE);
	ASSERT_TRUE(job.started.Wait());
	EXPECT_EQ(job.seenId, thread);
	EXPECT_STREQ(job.hostName, "tessary test wo");  // the host keeps 15 bytes
	EXPECT_EQ(find_thread("tessary test worker thread"), thread);

	job.release.Open();
	status_t exitValue = 0;
	ASSERT_EQ(wait_for_thread(thread, &exitValue), B_OK);
	EXPECT_EQ(exitValue, 1234);

	EXPECT_EQ(find_thread("tessary test worker thread"), B_NAME_NOT_FOUND);
	EXPECT_EQ(wait_for_thread(thread, &exitValue), B_BAD_THREAD_ID);
	EXPECT_EQ(get_thread_info(thread, &info), B_BAD_THREAD_ID);
}

TEST(Thread, TwoThreadsOfOneNameAreWaitedForEachByItsId)
{
	Job first, second;
	first.result = 1;
	second.result = 2;
	thread_id firstId = spawn_thread(gated_job, "twin", B_DISPLAY_PRIORITY, &first);
	thread_id secondId = spawn_thread(gated_job, "twin", B_DISPLAY_PRIORITY, &second);
	ASSERT_GT(firstId, 0);
	ASSERT_GT(secondId, firstId);
	ASSERT_EQ(resume_thread(firstId), B_OK);
	ASSERT_EQ(resume_thread(secondId), B_OK);
	ASSERT_TRUE(first.started.Wait());
	ASSERT_TRUE(second.started.Wait());
	EXPECT_EQ(find_thread("twin"), firstId);

	// The second ends first; its value must not reach the first's waiter.
	second.release.Open();
	status_t value = 0;
	ASSERT_EQ(wait_for_thread(secondId, &value), B_OK);
	EXPECT_EQ(value, 2);
	EXPECT_EQ(find_thread("twin"), firstId);

	first.release.Open();
	ASSERT_EQ(wait_for_thread(firstId, &value), B_OK);
	EXPECT_EQ(value, 1);
	EXPECT_EQ(find_thread("twin"), B_NAME_NOT_FOUND);
}

TEST(Thread, EndedThreadIsLostByNameButKeepsItsExitValueForTheWaiter)
{
	Job job;
	job.result = 5;
	job.release.Open();
	thread_id thread = spawn_thread(gated_job, "short-lived", B_NORMAL_PRIORITY, &job);
	ASSERT_EQ(resume_thread(thread), B_OK);
	ASSERT_TRUE(job.started.Wait());
	// Give it time to end; the name then disappears while the value stays.
	for (int tries = 0; tries < 1000 && find_thread("short-lived") == thread; tries++)
		snooze(1000);
	EXPECT_EQ(find_thread("short-lived"), B_NAME_NOT_FOUND);
	EXPECT_EQ(resume_thread(thread), B_BAD_THREAD_ID);
	status_t value = 0;
	ASSERT_EQ(wait_for_thread(thread, &value), B_OK);
	EXPECT_EQ(value, 5);
}

TEST(Thread, FindThreadNullIsStablePerThreadAndDistinctBetweenThreads)
{
	thread_id mine = find_thread(nullptr);
	ASSERT_GT(mine, 0);
	EXPECT_EQ(find_thread(nullptr), mine);

	thread_id other = 0, otherAgain = 0;
	std::thread foreign([&] {
		other = find_thread(nullptr);
		otherAgain = find_thread(nullptr);
	});
	foreign.join();
	EXPECT_GT(other, 0);
	EXPECT_EQ(other, otherAgain);
	EXPECT_NE(other, mine);
	// A thread that was not spawned here leaves when it ends.
	thread_info info;
	EXPECT_EQ(get_thread_info(other, &info), B_BAD_THREAD_ID);

	EXPECT_EQ(wait_for_thread(mine, nullptr), B_NOT_ALLOWED);
	EXPECT_EQ(find_thread(nullptr), mine);
}

TEST(Thread, WaitingStartsASuspendedThreadAndKillOnlyStopsUnstartedOnes)
{
	Job job;
	job.result = 9;
	job.release.Open();
	thread_id waited = spawn_thread(gated_job, "never resumed", B_NORMAL_PRIORITY, &job);
	status_t value = 0;
	ASSERT_EQ(wait_for_thread(waited, &value), B_OK);
	EXPECT_EQ(value, 9);
	EXPECT_TRUE(job.ran);

	Job unstarted;
	thread_id killed = spawn_thread(gated_job, "killed", B_NORMAL_PRIORITY, &unstarted);
	EXPECT_EQ(kill_thread(killed), B_OK);
	EXPECT_EQ(find_thread("killed"), B_NAME_NOT_FOUND);
	ASSERT_EQ(wait_for_thread(killed, &value), B_OK);
	EXPECT_EQ(value, B_INTERRUPTED);
	EXPECT_FALSE(unstarted.ran);

	Job running;
	thread_id busy = spawn_thread(gated_job, "busy", B_NORMAL_PRIORITY, &running);
	ASSERT_EQ(resume_thread(busy), B_OK);
	ASSERT_TRUE(running.started.Wait());
	EXPECT_EQ(kill_thread(busy), B_NOT_ALLOWED);
	running.release.Open();
	EXPECT_EQ(wait_for_thread(busy, nullptr), B_OK);
}

TEST(Thread, ExitThreadDeliversItsValueAndUnwinds)
{
	bool destroyed = false;
	thread_id thread = spawn_thread(exiting_job, "exiting", B_NORMAL_PRIORITY, &destroyed);
	ASSERT_EQ(resume_thread(thread), B_OK);
	status_t value = 0;
	ASSERT_EQ(wait_for_thread(thread, &value), B_OK);
	EXPECT_EQ(value, 77);
	EXPECT_TRUE(destroyed);
}

TEST(Thread, RenameChangesWhatFindAndInfoSee)
{
	Job job;
	thread_id thread = spawn_thread(gated_job, "before", B_LOW_PRIORITY, &job);
	ASSERT_EQ(rename_thread(thread, "after"), B_OK);
	EXPECT_EQ(find_thread("before"), B_NAME_NOT_FOUND);
	EXPECT_EQ(find_thread("after"), thread);
	EXPECT_EQ(set_thread_priority(thread, B_DISPLAY_PRIORITY), B_LOW_PRIORITY);
	thread_info info;
	ASSERT_EQ(get_thread_info(thread, &info), B_OK);
	EXPECT_STREQ(info.name, "after");
	EXPECT_EQ(info.priority, B_DISPLAY_PRIORITY);

	std::string longName(60, 'n');
	ASSERT_EQ(rename_thread(thread, longName.c_str()), B_OK);
	ASSERT_EQ(get_thread_info(thread, &info), B_OK);
	EXPECT_EQ(strlen(info.name), size_t(B_OS_NAME_LENGTH - 1));
	EXPECT_EQ(find_thread(longName.c_str()), thread);

	job.release.Open();
	EXPECT_EQ(wait_for_thread(thread, nullptr), B_OK);
	EXPECT_EQ(rename_thread(thread, "gone"), B_BAD_THREAD_ID);
	EXPECT_EQ(spawn_thread(nullptr, "no function", B_NORMAL_PRIORITY, nullptr), B_BAD_VALUE);
}

TEST(Thread, SnoozeWaitsAtLeastTheGivenTime)
{
	bigtime_t start = system_time();
	EXPECT_EQ(snooze(20000), B_OK);
	EXPECT_GE(system_time() - start, 20000);
	EXPECT_EQ(snooze(0), B_OK);
}
