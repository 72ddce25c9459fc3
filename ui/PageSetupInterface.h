// The Page Setup dialog: paper size from a fixed table or typed in inches, orientation and
// scaling, with a preview of the page as it lies.
//
// PageSetupInterface::RunInterface builds the window on the calling thread, shows it and
// waits until the window's own thread has ended; the window alone then touches its views and
// the settings message, and writes its answer into that message (which it never owns or
// deletes) before it quits. The answer: on OK the message is emptied and holds "status" 0,
// "prevous_settings", "page_height", "page_width", "scaling" and "layout"; on Cancel, and
// whenever the window ends without either button, "status" is -1.
//
// The names of the dialog (its classes' members, the label globals, the paper table) are the
// established ones and keep their mixed styles; helpers of the window are _Private().
#pragma once

#include <DeviceModel.h>
#include <MessageFilter.h>
#include <View.h>
#include <Window.h>

#include <array>

class BMenuItem;
class BMessage;
class BTextControl;

// Paper table, one row per paper of the device model, the sizes in inches as decimal text;
// the last row is "Other".
typedef std::array<const char*, device::kPaperCount + 1> paper_table_column;
extern const paper_table_column page_size_labels;
extern const paper_table_column page_horiz_sizes;
extern const paper_table_column page_vert_sizes;
// Orientation, indexed by "layout".
extern const char* const page_layout_labels[2];

// Labels of the dialog's controls.
extern const char* const PageSize;
extern const char* const PageLayout;
extern const char* const WidthLabel;
extern const char* const HeightLabel;
extern const char* const ScalingLabel;
// The driver's display name at the top of both setup dialogs.
extern const char* const HeadText;

// The preview: an outline with the paper's proportions (longer side 100 pixels, centred in
// the 110-pixel square of its parent) and a letter B sized by the scaling. The window sets
// height, width and scaling, then calls Inval() to refit and redraw. A height or width that
// gives no shape (0, no number, not finite) leaves the view at its last good shape, so the
// view never gets a size or position that is not finite.
class PageView : public BView {
public:
	PageView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);

	void SetHeight(float value) { height = value; }
	void SetWidth(float value) { width = value; }
	void SetScaling(float value) { scaling = value; }
	void Inval();

	void Draw(BRect update) override;

private:
	float height = 0;   // vertical extent of the paper as shown, inches
	float width = 0;    // horizontal extent of the paper as shown, inches
	float scaling = 100;  // percent
	// The last good refit; a square until the first one.
	float shown_width = 100;
	float shown_height = 100;
};

// Key filter hook of the Page Setup window: digits, editing and navigation keys, one point
// per text field and every Command-key shortcut pass; everything else is dropped.
filter_result SetupKeyFilter(BMessage* message, BHandler** target, BMessageFilter* filter);

class PageSetupWindow : public BWindow {
public:
	PageSetupWindow(BRect& frame, const char* title, window_look look, window_feel feel,
		uint32 flags, uint32 workspace, BMessage* settings);
	~PageSetupWindow() override;

	void MessageReceived(BMessage* message) override;

private:
	friend class PageSetupInterface;

	void _Cancel();
	void _Confirm();
	void _WidthCommitted();
	void _HeightCommitted();
	void _PaperChosen(BMessage* message);
	void _ScalingCommitted();
	void _LayoutChosen(BMessage* message);
	// Height and width of the preview from the size fields, the orientation applied.
	void _LoadPreview();
	void _ShowInvalidAlert();

	BMessage* result_msg;  // not owned
	BMessageFilter* key_filter;  // owned by the window as a common filter
	int8 paper_index = 0;
	int8 layout_index = 0;
	BTextControl* height_text = nullptr;
	BTextControl* width_text = nullptr;
	BTextControl* scaling_text = nullptr;
	PageView* page_view = nullptr;
	BMenuItem* other_item = nullptr;
	bool answered = false;  // OK or Cancel has written the answer
};

// Stateless: one per call of the page setup hook.
class PageSetupInterface {
public:
	// Runs the dialog on settings and returns settings once the window has gone.
	BMessage* RunInterface(BMessage* settings);
};
