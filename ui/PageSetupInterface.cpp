#include "PageSetupInterface.h"

#include "DialogValues.h"
#include "JobSettings.h"

#include <Alert.h>
#include <Box.h>
#include <Button.h>
#include <Font.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <Message.h>
#include <OS.h>
#include <PopUpMenu.h>
#include <StringView.h>
#include <TextControl.h>
#include <TextView.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

// The device model's papers, then the custom size, typed in.
const paper_table_column page_size_labels = device::paper_column(&device::Paper::label,
	device::kOtherPaperLabel);
const paper_table_column page_horiz_sizes = device::paper_column(&device::Paper::widthText,
	device::kOtherPaperSize);
const paper_table_column page_vert_sizes = device::paper_column(&device::Paper::heightText,
	device::kOtherPaperSize);
const char* const page_layout_labels[2] = {
	"Portrait",
	"Landscape",
};

const char* const PageSize = "Paper Size:";
const char* const PageLayout = "Page Layout:";
const char* const WidthLabel = "Width:";
const char* const HeightLabel = "Height:";
const char* const ScalingLabel = "Scaling:";
const char* const HeadText = "Tessary";

namespace {

// "cmd_code" of the window's control messages.
enum : int8 {
	kCancelCode = 0,
	kOKCode = 1,
	kWidthCode = 2,
	kHeightCode = 3,
	kPaperCode = 4,
	kScalingCode = 5,
	kLayoutCode = 6,
};

const char kInvalidText[] = "\n\tInvalid values!\n\tCheck paper size and scalinng.";

// The side of the square the preview is centred in.
const float kPreviewArea = 110;

BMessage* command_message(int8 code)
{
	BMessage* message = new BMessage(uint32(0));
	message->AddInt8(kCmdCodeField, code);
	return message;
}

double field_value(const BTextControl* field)
{
	return entry_value(field->Text());
}

// Text of a size or scaling field as the dialog first shows it.
std::string initial_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string initial_text(const char* format, ...)
{
	char buffer[256];
	va_list args;
	va_start(args, format);
	vsnprintf(buffer, sizeof(buffer), format, args);
	va_end(args);
	return trimmed_decimal(buffer);
}

}  // namespace

// PageView

PageView::PageView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
	: BView(frame, name, resizingMode, flags)
{
}

void PageView::Inval()
{
	PreviewShape shape;
	if (preview_shape(height, width, &shape)) {
		shown_width = shape.width;
		shown_height = shape.height;
	}
	// Without a shape of its own the page stays as it was last shown.
	MoveTo((kPreviewArea - shown_width) * 0.5f, (kPreviewArea - shown_height) * 0.5f);
	ResizeTo(shown_width, shown_height);
	Invalidate();
}

void PageView::Draw(BRect)
{
	float w = shown_width;
	float h = shown_height;
	StrokeLine(BPoint(0, 0), BPoint(0, h - 1), B_SOLID_HIGH);
	StrokeLine(BPoint(0, 0), BPoint(w - 1, 0), B_SOLID_HIGH);
	StrokeLine(BPoint(w - 1, h - 1), BPoint(0, h - 1), B_SOLID_HIGH);
	StrokeLine(BPoint(w - 1, h - 1), BPoint(w - 1, 0), B_SOLID_HIGH);

	float size;
	if (!preview_letter_size(w, h, scaling, &size))
		return;
	BFont font(be_plain_font);
	font.SetSize(size);
	SetFont(&font, B_FONT_ALL);
	// The letter, taken as two thirds of the font size high and wide, centred on the page.
	DrawChar('B', BPoint((w - 2 * size / 3) * 0.5f, (h + 2 * size / 3) * 0.5f));
}

// SetupKeyFilter

filter_result SetupKeyFilter(BMessage* message, BHandler** target, BMessageFilter*)
{
	int8 key;
	if (number_key_passes(message, &key))
		return B_DISPATCH_MESSAGE;
	if (key != '.')
		return B_SKIP_MESSAGE;

	// A point goes only into a text field, and only as its one point: what it replaces goes
	// first, so typing it over a selection holding the old point is allowed.
	BTextView* text = target != nullptr ? dynamic_cast<BTextView*>(*target) : nullptr;
	if (text == nullptr)
		return B_SKIP_MESSAGE;
	text->Delete();
	if (memchr(text->Text(), '.', static_cast<size_t>(text->TextLength())) != nullptr)
		return B_SKIP_MESSAGE;
	return B_DISPATCH_MESSAGE;
}

// PageSetupWindow

PageSetupWindow::PageSetupWindow(BRect& frame, const char* title, window_look look,
	window_feel feel, uint32 flags, uint32 workspace, BMessage* settings)
	: BWindow(frame, title, look, feel, flags, workspace),
	  result_msg(settings),
	  key_filter(new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, B_KEY_DOWN, SetupKeyFilter))
{
	AddCommonFilter(key_filter);
}

PageSetupWindow::~PageSetupWindow()
{
	// Ended by neither button (a quit request from elsewhere): whatever "status" the copied
	// settings held, the answer is "cancelled".
	if (!answered)
		store_field(result_msg, kStatusField, int32(-1));
}

void PageSetupWindow::MessageReceived(BMessage* message)
{
	int8 code;
	if (message->FindInt8(kCmdCodeField, &code) != B_OK)
		return;
	switch (code) {
		case kCancelCode:
			_Cancel();
			break;
		case kOKCode:
			_Confirm();
			break;
		case kWidthCode:
			_WidthCommitted();
			break;
		case kHeightCode:
			_HeightCommitted();
			break;
		case kPaperCode:
			_PaperChosen(message);
			break;
		case kScalingCode:
			_ScalingCommitted();
			break;
		case kLayoutCode:
			_LayoutChosen(message);
			break;
		default:
			break;  // not one of ours; not for BWindow either
	}
}

void PageSetupWindow::_Cancel()
{
	if (result_msg->HasInt32(kStatusField))
		result_msg->ReplaceInt32(kStatusField, 0, -1);
	else
		result_msg->AddInt32(kStatusField, -1);
	answered = true;
	Lock();
	Quit();
}

void PageSetupWindow::_Confirm()
{
	double height = field_value(height_text);
	double width = field_value(width_text);
	double scaling = field_value(scaling_text);
	if (!page_entry_valid(height) || !page_entry_valid(width) || !page_entry_valid(scaling)) {
		// Behind whatever "status" entries are there: only an exit by neither button would
		// ever read it.
		result_msg->AddInt32(kStatusField, -1);
		_ShowInvalidAlert();
		return;
	}

	// The answer replaces everything the settings held; the order of the fields is fixed.
	result_msg->MakeEmpty();
	result_msg->AddInt32(kStatusField, 0);
	result_msg->AddInt8(kPreviousSettingsField, remembered_paper_row(paper_index, height, width));
	result_msg->AddFloat(kPageHeightField, static_cast<float>(height));
	result_msg->AddFloat(kPageWidthField, static_cast<float>(width));
	result_msg->AddFloat(kScalingField, static_cast<float>(scaling));
	result_msg->AddInt8(kLayoutField, layout_index);
	answered = true;
	Lock();
	Quit();
}

void PageSetupWindow::_WidthCommitted()
{
	float value = static_cast<float>(field_value(width_text));
	if (layout_index == 0)
		page_view->SetWidth(value);
	else
		page_view->SetHeight(value);
	page_view->Inval();
	// A typed size is a custom one, whatever row it may still match at OK.
	other_item->SetMarked(true);
}

void PageSetupWindow::_HeightCommitted()
{
	float value = static_cast<float>(field_value(height_text));
	if (layout_index == 0)
		page_view->SetHeight(value);
	else
		page_view->SetWidth(value);
	page_view->Inval();
	other_item->SetMarked(true);
}

void PageSetupWindow::_PaperChosen(BMessage* message)
{
	int8 row;
	if (message->FindInt8(kFormatChosenField, &row) == B_OK && row >= 0
		&& row < kPaperRowCount)
		paper_index = row;
	// Program-set texts commit nothing, so the menu keeps the row just chosen.
	height_text->SetText(page_vert_sizes[paper_index]);
	width_text->SetText(page_horiz_sizes[paper_index]);
	_LoadPreview();
	page_view->Inval();
}

void PageSetupWindow::_ScalingCommitted()
{
	page_view->SetScaling(static_cast<float>(field_value(scaling_text)));
	page_view->Inval();
}

void PageSetupWindow::_LayoutChosen(BMessage* message)
{
	int8 layout;
	if (message->FindInt8(kLayoutChosenField, &layout) == B_OK && (layout == 0 || layout == 1))
		layout_index = layout;
	_LoadPreview();
	page_view->Inval();
}

void PageSetupWindow::_LoadPreview()
{
	float height = static_cast<float>(field_value(height_text));
	float width = static_cast<float>(field_value(width_text));
	if (layout_index == 0) {
		page_view->SetHeight(height);
		page_view->SetWidth(width);
	} else {
		page_view->SetHeight(width);
		page_view->SetWidth(height);
	}
}

void PageSetupWindow::_ShowInvalidAlert()
{
	BAlert* alert = new BAlert("alert_window", kInvalidText, "I see", nullptr, nullptr,
		B_WIDTH_AS_USUAL, B_INFO_ALERT);
	(void)alert->Go();  // one button; the alert deletes itself
}

// PageSetupInterface

BMessage* PageSetupInterface::RunInterface(BMessage* settings)
{
	BMessage* okMessage = new BMessage(uint32(0));
	BMessage* cancelMessage = new BMessage(uint32(0));
	BFont headFont(be_bold_font);

	BRect frame(100, 100, 500, 340);
	PageSetupWindow* window = new PageSetupWindow(frame, "Page Setup", B_TITLED_WINDOW_LOOK,
		B_MODAL_APP_WINDOW_FEEL, B_NOT_RESIZABLE | B_NOT_CLOSABLE | B_NOT_ZOOMABLE,
		B_CURRENT_WORKSPACE, settings);

	// The previous answer, each field only when it is there with its type.
	int8 storedPaper = 0;
	float height = 0;
	float width = 0;
	float scaling = 100.0f;
	int8 storedLayout = 0;
	if (settings->HasInt8(kPreviousSettingsField))
		settings->FindInt8(kPreviousSettingsField, &storedPaper);
	if (settings->HasFloat(kPageHeightField))
		settings->FindFloat(kPageHeightField, &height);
	if (settings->HasFloat(kPageWidthField))
		settings->FindFloat(kPageWidthField, &width);
	if (settings->HasFloat(kScalingField))
		settings->FindFloat(kScalingField, &scaling);
	if (settings->HasInt8(kLayoutField))
		settings->FindInt8(kLayoutField, &storedLayout);
	// Values this dialog never stores fall back to rows of its tables.
	window->paper_index = paper_row(storedPaper);
	window->layout_index = storedLayout == 1 ? 1 : 0;
	bool tableSize = window->paper_index < kOtherPaperRow;

	const uint32 inputFlags = B_WILL_DRAW | B_NAVIGABLE;
	const uint32 boxFlags = B_WILL_DRAW | B_FRAME_EVENTS | B_NAVIGABLE_JUMP;
	const uint32 follow = B_FOLLOW_LEFT | B_FOLLOW_TOP;

	BBox* background = new BBox(BRect(0, 0, 400, 240), nullptr, follow, B_WILL_DRAW,
		B_FANCY_BORDER);
	window->AddChild(background);

	BBox* separator = new BBox(BRect(10, 180, 390, 181), nullptr, follow, boxFlags,
		B_FANCY_BORDER);
	background->AddChild(separator);

	BPopUpMenu* paperMenu = new BPopUpMenu("", true, true, B_ITEMS_IN_COLUMN);
	BPopUpMenu* layoutMenu = new BPopUpMenu("", true, true, B_ITEMS_IN_COLUMN);

	BMenuField* paperField = new BMenuField(BRect(20, 60, 150, 70), "Page Size", PageSize,
		paperMenu, follow, inputFlags);
	paperField->SetDivider(60);
	background->AddChild(paperField);

	BMenuField* layoutField = new BMenuField(BRect(10, 120, 170, 150), "Paper Layout",
		PageLayout, layoutMenu, follow, inputFlags);
	layoutField->SetDivider(70);
	background->AddChild(layoutField);

	BStringView* head = new BStringView(BRect(10, 10, 398, 40), "stringview", HeadText, follow,
		B_WILL_DRAW);
	headFont.SetSize(23);
	headFont.SetSpacing(B_CHAR_SPACING);
	head->SetFont(&headFont, B_FONT_ALL);
	background->AddChild(head);

	std::string widthText = tableSize
		? initial_text("%s", page_horiz_sizes[window->paper_index])
		: initial_text("%f", static_cast<double>(width));
	window->width_text = new BTextControl(BRect(43, 90, 130, 110), "textcontrol", WidthLabel,
		widthText.c_str(), command_message(kWidthCode), follow, inputFlags);
	window->width_text->SetDivider(35);
	background->AddChild(window->width_text);

	std::string heightText = tableSize
		? initial_text("%s", page_vert_sizes[window->paper_index])
		: initial_text("%f", static_cast<double>(height));
	window->height_text = new BTextControl(BRect(147, 90, 240, 110), "textcontrol",
		HeightLabel, heightText.c_str(), command_message(kHeightCode), follow, inputFlags);
	window->height_text->SetDivider(40);
	background->AddChild(window->height_text);

	std::string scalingText = initial_text("%f", static_cast<double>(scaling));
	window->scaling_text = new BTextControl(BRect(20, 150, 200, 170), "textcontrol",
		ScalingLabel, scalingText.c_str(), command_message(kScalingCode), follow, inputFlags);
	window->scaling_text->SetDivider(58);
	background->AddChild(window->scaling_text);

	okMessage->AddInt8(kCmdCodeField, kOKCode);
	BButton* okButton = new BButton(BRect(187, 200, 240, 220), "nonameOK", "OK", okMessage,
		follow, inputFlags);
	background->AddChild(okButton);
	window->SetDefaultButton(okButton);

	cancelMessage->AddInt8(kCmdCodeField, kCancelCode);
	BButton* cancelButton = new BButton(BRect(270, 200, 340, 220), "nonameCancel", "Cancel",
		cancelMessage, follow, inputFlags);
	background->AddChild(cancelButton);

	BBox* previewBox = new BBox(BRect(269, 59, 381, 171), nullptr, follow, boxFlags,
		B_FANCY_BORDER);
	background->AddChild(previewBox);
	window->page_view = new PageView(BRect(2, 2, 110, 110), "view", B_FOLLOW_NONE, B_WILL_DRAW);
	previewBox->AddChild(window->page_view);

	for (int8 row = 0; row < kPaperRowCount; row++) {
		BMessage* message = command_message(kPaperCode);
		message->AddInt8(kFormatChosenField, row);
		BMenuItem* item = new BMenuItem(page_size_labels[row], message);
		paperMenu->AddItem(item);
		if (row == window->paper_index)
			item->SetMarked(true);
		if (row == kOtherPaperRow)
			window->other_item = item;
	}
	for (int8 row = 0; row < 2; row++) {
		BMessage* message = command_message(kLayoutCode);
		message->AddInt8(kLayoutChosenField, row);
		BMenuItem* item = new BMenuItem(page_layout_labels[row], message);
		layoutMenu->AddItem(item);
		if (row == window->layout_index)
			item->SetMarked(true);
	}

	// The preview's scaling is the stored one, not the field's rounded text.
	window->_LoadPreview();
	window->page_view->SetScaling(scaling);
	window->page_view->Inval();

	// Held across Show() so the window cannot handle anything, let alone quit, before its
	// thread is known: waiting on that very thread, not on a thread found by the title that
	// another Page Setup window may share, is what keeps this call until its window is gone.
	window->Lock();
	window->Show();
	thread_id thread = window->Thread();
	window->Unlock();
	status_t exitValue;
	(void)wait_for_thread(thread, &exitValue);  // the thread's exit value means nothing here
	return settings;
}
