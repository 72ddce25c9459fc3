// Helpers for the looper tests: a log the looper's thread writes and the test reads with a
// watchdog, and a looper that records every message it handles. Every wait gives up after
// kWatchdog, so a broken loop fails the test instead of hanging it.
#pragma once

#include <Looper.h>
#include <Message.h>
#include <OS.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

const std::chrono::seconds kWatchdog(10);

// One message as its handler saw it.
struct Seen {
	std::string handler;  // name of the handler whose MessageReceived ran
	uint32 what = 0;
	int32 index = -1;     // the message's int32 "index", when it has one
	thread_id thread = -1;
	std::string threadName;
	bool locked = false;  // the looper was locked by the handling thread
};

class EventLog {
public:
	void Add(const Seen& seen);
	// A line of free text ("filter A", "destroyed"), kept in the same order as Add's.
	void Note(const std::string& text);
	bool WaitForCount(size_t count);
	bool WaitForNote(const std::string& text);
	std::vector<Seen> Messages();
	std::vector<std::string> Notes();
	// Notes and handled messages ("handled <handler> <index>") in the order they happened.
	std::vector<std::string> Sequence();

private:
	std::mutex fLock;
	std::condition_variable fChanged;
	std::vector<Seen> fMessages;
	std::vector<std::string> fNotes;
	std::vector<std::string> fSequence;
};

// The record of a handler: what it sees, in the log.
Seen seen_now(BHandler* handler, BMessage* message);

// A looper that logs every message. A message with `what` kQuitNow makes it lock itself and
// quit from inside MessageReceived; then it notes "returned from Quit" should Quit return.
// Its destructor notes "destroyed" and the thread it ran on.
class RecordingLooper : public BLooper {
public:
	static constexpr uint32 kQuitNow = 'quit';

	RecordingLooper(const char* name, EventLog* log, const char* threadName = nullptr);
	~RecordingLooper() override;

	void MessageReceived(BMessage* message) override;
	bool QuitRequested() override { return fAllowQuit; }
	void Rename(const char* threadName) { SetThreadName(threadName); }

	bool fAllowQuit = true;
	thread_id* fDestroyedOn = nullptr;  // set by the destructor when not NULL

private:
	EventLog* fLog;
};

class RecordingHandler : public BHandler {
public:
	RecordingHandler(const char* name, EventLog* log, bool passOn = false)
		: BHandler(name), fLog(log), fPassOn(passOn)
	{
	}
	void MessageReceived(BMessage* message) override;

private:
	EventLog* fLog;
	bool fPassOn;  // give the message to the base, which passes it to the next handler
};

// wait_for_thread with a watchdog: false when the thread has not ended in time.
bool wait_for_thread_within(thread_id thread, status_t* result = nullptr);

// Runs `action` on a thread of its own and waits for it with the watchdog.
bool run_on_other_thread(const std::function<void()>& action);
