// Working the setup dialogs from a test as a user would: the dialog runs on a thread of its
// own (its hook blocks until the window has gone) while the test drives the window through
// the display's scripting interface. Every wait is bounded and fails the test instead of
// hanging.
#pragma once

#include <InterfaceDefs.h>
#include <Looper.h>
#include <Message.h>
#include <ScriptedDisplay.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace dialog_test {

inline constexpr bigtime_t kStepTimeout = 10000000;
inline constexpr std::chrono::seconds kCloseTimeout(20);

// A call that blocks on a dialog, run on its own thread.
class DialogCall {
public:
	explicit DialogCall(std::function<BMessage*()> call)
		: fState(std::make_shared<State>())
	{
		std::shared_ptr<State> state = fState;
		fThread = std::thread([state, call] {
			BMessage* result = call();
			std::lock_guard<std::mutex> guard(state->lock);
			state->result.reset(result);
			state->done = true;
			state->changed.notify_all();
		});
	}

	~DialogCall()
	{
		if (!Returned(kCloseTimeout)) {
			ADD_FAILURE() << "a dialog call never returned";
			fThread.detach();
			return;
		}
		fThread.join();
	}

	DialogCall(const DialogCall&) = delete;
	DialogCall& operator=(const DialogCall&) = delete;

	bool Returned(std::chrono::milliseconds timeout = std::chrono::milliseconds(0))
	{
		std::unique_lock<std::mutex> guard(fState->lock);
		return fState->changed.wait_for(guard, timeout, [this] { return fState->done; });
	}

	// Waits for the call (failing the test after the timeout) and takes its result.
	std::unique_ptr<BMessage> Result()
	{
		EXPECT_TRUE(Returned(kCloseTimeout)) << "the dialog call did not return";
		std::lock_guard<std::mutex> guard(fState->lock);
		return std::move(fState->result);
	}

private:
	struct State {
		std::mutex lock;
		std::condition_variable changed;
		bool done = false;
		std::unique_ptr<BMessage> result;
	};

	std::shared_ptr<State> fState;
	std::thread fThread;
};

inline window_token find_window(const char* title, int32 index = 0)
{
	window_token window = 0;
	EXPECT_EQ(ScriptedDisplay::FindWindow(title, kStepTimeout, &window, index), B_OK)
		<< "no " << title << " window";
	return window;
}

// Waits until the window has handled the input posted so far, and what that input made its
// controls post in turn.
inline void settle(window_token window)
{
	EXPECT_EQ(ScriptedDisplay::Sync(window, kStepTimeout), B_OK);
}

inline std::string text_of(window_token window, const char* view)
{
	settle(window);
	std::string text;
	EXPECT_EQ(ScriptedDisplay::GetText(window, view, &text, kStepTimeout), B_OK) << view;
	return text;
}

inline int32 value_of(window_token window, const char* view)
{
	settle(window);
	int32 value = -1;
	EXPECT_EQ(ScriptedDisplay::GetValue(window, view, &value, kStepTimeout), B_OK) << view;
	return value;
}

inline std::string marked_in(window_token window, const char* field)
{
	settle(window);
	std::string label;
	EXPECT_EQ(ScriptedDisplay::GetMarkedItem(window, field, &label, kStepTimeout), B_OK)
		<< field;
	return label;
}

// Clicks into the field, selects all of it and types text (keys the dialog drops are lost
// as they would be for a user); commit adds Enter.
inline void type_into(window_token window, const char* field, const char* text,
	bool commit = true)
{
	ASSERT_EQ(ScriptedDisplay::Click(window, field), B_OK) << field;
	ASSERT_EQ(ScriptedDisplay::PressKey(window, 'a', B_COMMAND_KEY), B_OK);
	// Typing nothing over a selection leaves it; a user empties a field with Backspace.
	ASSERT_EQ(text[0] == '\0' ? ScriptedDisplay::PressKey(window, B_BACKSPACE)
		: ScriptedDisplay::TypeText(window, text), B_OK);
	if (commit) {
		ASSERT_EQ(ScriptedDisplay::PressKey(window, B_ENTER), B_OK);
	}
}

inline void choose(window_token window, const char* field, const char* item)
{
	ASSERT_EQ(ScriptedDisplay::ChooseMenuItem(window, field, item), B_OK);
	ASSERT_EQ(ScriptedDisplay::Sync(window, kStepTimeout), B_OK);
}

inline void click(window_token window, const char* view)
{
	ASSERT_EQ(ScriptedDisplay::Click(window, view), B_OK) << view;
}

// The alert a refused OK shows: its text, after which its button is pressed and the alert
// waited for.
inline std::string dismiss_alert()
{
	window_token alert = 0;
	if (ScriptedDisplay::FindAlert(kStepTimeout, &alert) != B_OK) {
		ADD_FAILURE() << "no alert";
		return "";
	}
	std::string text;
	EXPECT_EQ(ScriptedDisplay::GetAlertText(alert, &text, kStepTimeout), B_OK);
	EXPECT_EQ(ScriptedDisplay::PressAlertButton(alert, "I see"), B_OK);
	EXPECT_EQ(ScriptedDisplay::WaitForClose(alert, kStepTimeout), B_OK);
	return text;
}

// Posts a quit request to the window, as anything else in the application might: the way out
// of a dialog by neither of its buttons.
inline void request_quit(window_token window)
{
	thread_id thread = -1;
	auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(kStepTimeout);
	// The display learns the thread just after the window is shown.
	while ((ScriptedDisplay::GetThread(window, &thread) != B_OK || thread < 0)
		&& std::chrono::steady_clock::now() < deadline)
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	BLooper* looper = BLooper::LooperForThread(thread);
	ASSERT_NE(looper, nullptr);
	ASSERT_EQ(looper->PostMessage(B_QUIT_REQUESTED), B_OK);
}

// Names of the message's fields in order, each with its count when above one.
inline std::string field_list(const BMessage& message)
{
	std::string list;
	char* name = nullptr;
	type_code type = 0;
	int32 count = 0;
	for (int32 i = 0; message.GetInfo(B_ANY_TYPE, i, &name, &type, &count) == B_OK; i++) {
		if (!list.empty())
			list += ' ';
		list += name;
		if (count > 1)
			list += "*" + std::to_string(count);
	}
	return list;
}

}  // namespace dialog_test
