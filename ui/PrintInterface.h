// The Print Setup dialog: number of copies, all pages or a page range, resolution and
// black-and-white printing.
//
// PrintSetupInterface::RunInterface builds the window on the calling thread, shows it and
// waits until the window's own thread has ended; meanwhile only the window touches its views
// and the settings message, which it never owns or deletes. On OK it stores "status" 0,
// "copies", "count_type", "from" and "to" (for a page range), "BWMode" and "quality_type"
// into the message, keeping every other field; on Cancel, and whenever the window ends
// without either button, "status" -1.
//
// The names of the dialog (its classes' members, the label globals) are the established ones
// and keep their mixed styles; helpers of the window are _Private().
#pragma once

#include <DeviceModel.h>
#include <MessageFilter.h>
#include <Window.h>

#include <array>

class BCheckBox;
class BMessage;
class BTextControl;

// Resolution labels; the index is the "quality_type".
extern const std::array<const char*, device::kResolutionCount> quality_labels;

// Labels of the dialog's controls (HeadText is shared with the page setup dialog).
extern const char* const HeadText;
extern const char* const CopiesLabel;
extern const char* const FromLabel;
extern const char* const ToLabel;
extern const char* const Resolution;

// Key filter hook of the Print Setup window: digits, editing and navigation keys and every
// Command-key shortcut pass; everything else is dropped.
filter_result PrintSetupKeyFilter(BMessage* message, BHandler** target, BMessageFilter* filter);

class PrintSetupWindow : public BWindow {
public:
	PrintSetupWindow(BRect& frame, const char* title, window_look look, window_feel feel,
		uint32 flags, uint32 workspace, BMessage* settings);
	~PrintSetupWindow() override;

	void MessageReceived(BMessage* message) override;

private:
	friend class PrintSetupInterface;

	void _Cancel();
	void _Confirm();
	void _ResolutionChosen(BMessage* message);
	void _RangeTyped();
	void _AllPagesClicked();
	void _PagesClicked();
	void _ShowInvalidAlert();

	int8 quality_index;
	BMessage* result_msg;  // not owned
	BMessageFilter* key_filter;  // owned by the window as a common filter
	BTextControl* from_text = nullptr;
	BTextControl* to_text = nullptr;
	BTextControl* copies_text = nullptr;
	BCheckBox* all_pages_box = nullptr;
	BCheckBox* pages_box = nullptr;
	BCheckBox* bw_box = nullptr;
	bool answered = false;  // OK or Cancel has written the answer
};

// Stateless: one per call of the job setup hook.
class PrintSetupInterface {
public:
	// Runs the dialog on settings and returns settings once the window has gone.
	BMessage* RunInterface(BMessage* settings);
};
