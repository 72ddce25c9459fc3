#include "LooperTestKit.h"

#include <memory>
#include <thread>

void EventLog::Add(const Seen& seen)
{
	std::lock_guard<std::mutex> guard(fLock);
	fMessages.push_back(seen);
	fSequence.push_back("handled " + seen.handler + " " + std::to_string(seen.index));
	fChanged.notify_all();
}

void EventLog::Note(const std::string& text)
{
	std::lock_guard<std::mutex> guard(fLock);
	fNotes.push_back(text);
	fSequence.push_back(text);
	fChanged.notify_all();
}

bool EventLog::WaitForCount(size_t count)
{
	std::unique_lock<std::mutex> guard(fLock);
	return fChanged.wait_for(guard, kWatchdog, [&] { return fMessages.size() >= count; });
}

bool EventLog::WaitForNote(const std::string& text)
{
	std::unique_lock<std::mutex> guard(fLock);
	return fChanged.wait_for(guard, kWatchdog, [&] {
		for (const std::string& note : fNotes) {
			if (note == text)
				return true;
		}
		return false;
	});
}

std::vector<Seen> EventLog::Messages()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fMessages;
}

std::vector<std::string> EventLog::Notes()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fNotes;
}

std::vector<std::string> EventLog::Sequence()
{
	std::lock_guard<std::mutex> guard(fLock);
	return fSequence;
}

Seen seen_now(BHandler* handler, BMessage* message)
{
	Seen seen;
	seen.handler = handler->Name() != nullptr ? handler->Name() : "";
	seen.what = message->what;
	seen.index = message->GetInt32("index", -1);
	seen.thread = find_thread(nullptr);
	thread_info info;
	if (get_thread_info(seen.thread, &info) == B_OK)
		seen.threadName = info.name;
	seen.locked = handler->Looper() != nullptr && handler->Looper()->IsLocked();
	return seen;
}

RecordingLooper::RecordingLooper(const char* name, EventLog* log, const char* threadName)
	: BLooper(name), fLog(log)
{
	if (threadName != nullptr)
		SetThreadName(threadName);
}

RecordingLooper::~RecordingLooper()
{
	if (fDestroyedOn != nullptr)
		*fDestroyedOn = find_thread(nullptr);
	fLog->Note("destroyed");
}

void RecordingLooper::MessageReceived(BMessage* message)
{
	fLog->Add(seen_now(this, message));
	if (message->what == kQuitNow) {
		Lock();
		Quit();
		fLog->Note("returned from Quit");
	}
}

void RecordingHandler::MessageReceived(BMessage* message)
{
	fLog->Add(seen_now(this, message));
	if (fPassOn)
		BHandler::MessageReceived(message);
}

namespace {

struct Outcome {
	std::mutex lock;
	std::condition_variable changed;
	bool done = false;
	status_t result = B_OK;
};

}  // namespace

bool wait_for_thread_within(thread_id thread, status_t* result)
{
	// The waiting thread is detached: if the looper hangs, the test fails and moves on.
	auto outcome = std::make_shared<Outcome>();
	std::thread([outcome, thread] {
		status_t status = wait_for_thread(thread, nullptr);
		std::lock_guard<std::mutex> guard(outcome->lock);
		outcome->result = status;
		outcome->done = true;
		outcome->changed.notify_all();
	}).detach();
	std::unique_lock<std::mutex> guard(outcome->lock);
	if (!outcome->changed.wait_for(guard, kWatchdog, [&] { return outcome->done; }))
		return false;
	if (result != nullptr)
		*result = outcome->result;
	return true;
}

bool run_on_other_thread(const std::function<void()>& action)
{
	auto outcome = std::make_shared<Outcome>();
	std::thread([outcome, action] {
		action();
		std::lock_guard<std::mutex> guard(outcome->lock);
		outcome->done = true;
		outcome->changed.notify_all();
	}).detach();
	std::unique_lock<std::mutex> guard(outcome->lock);
	return outcome->changed.wait_for(guard, kWatchdog, [&] { return outcome->done; });
}
