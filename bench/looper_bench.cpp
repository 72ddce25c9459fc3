// Cost of a message through a looper: post from another thread, dispatch on the looper's
// thread, with and without a common key filter in the way.
#include <AppDefs.h>
#include <Looper.h>
#include <Message.h>
#include <MessageFilter.h>
#include <Messenger.h>
#include <OS.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

class Counter : public BLooper {
public:
	Counter() : BLooper("bench counter", B_NORMAL_PRIORITY, 10000) {}
	void MessageReceived(BMessage*) override { fCount.fetch_add(1, std::memory_order_release); }
	std::atomic<int64> fCount{0};
};

filter_result digits_only(BMessage* message, BHandler**, BMessageFilter*)
{
	const char* bytes = nullptr;
	if (message->FindString("bytes", &bytes) != B_OK)
		return B_DISPATCH_MESSAGE;
	return bytes[0] >= '0' && bytes[0] <= '9' ? B_DISPATCH_MESSAGE : B_SKIP_MESSAGE;
}

void post_and_drain(benchmark::State& state, bool filtered)
{
	Counter* looper = new Counter;
	if (filtered) {
		looper->AddCommonFilter(
			new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, B_KEY_DOWN, digits_only));
	}
	looper->Run();
	BMessage key(B_KEY_DOWN);
	key.AddInt32("modifiers", 0);
	key.AddString("bytes", "7");
	const int64 batch = state.range(0);
	int64 posted = 0;
	for (auto _ : state) {
		for (int64 i = 0; i < batch; i++) {
			while (looper->PostMessage(&key) == B_WOULD_BLOCK)
				snooze(10);
		}
		posted += batch;
		while (looper->fCount.load(std::memory_order_acquire) < posted)
			std::this_thread::yield();
	}
	state.SetItemsProcessed(posted);
	looper->Lock();
	looper->Quit();
}

void BM_PostAndDispatch(benchmark::State& state)
{
	post_and_drain(state, false);
}

void BM_PostFilterAndDispatch(benchmark::State& state)
{
	post_and_drain(state, true);
}

}  // namespace

BENCHMARK(BM_PostAndDispatch)->Arg(1)->Arg(1000)->UseRealTime();
BENCHMARK(BM_PostFilterAndDispatch)->Arg(1000)->UseRealTime();
